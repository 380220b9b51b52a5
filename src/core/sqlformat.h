#pragma once

#include <QList>
#include <QString>
#include <initializer_list>

// One argument of SQLFormat: an integer, a float or a text. Built implicitly
// from the value, so that calls read like SQLFormat(tmpl, {id, name, days}).
class TFmtArg
{
public:
    enum class Kind { Integer, Float, Text };

    TFmtArg(int value)
        : FKind(Kind::Integer)
        , FInt(value)
    { }
    TFmtArg(unsigned value)
        : FKind(Kind::Integer)
        , FInt(value)
    { }
    TFmtArg(long value)
        : FKind(Kind::Integer)
        , FInt(value)
    { }
    TFmtArg(unsigned long value)
        : FKind(Kind::Integer)
        , FInt(qint64(value))
    { }
    TFmtArg(long long value)
        : FKind(Kind::Integer)
        , FInt(value)
    { }
    TFmtArg(unsigned long long value)
        : FKind(Kind::Integer)
        , FInt(qint64(value))
    { }
    TFmtArg(double value)
        : FKind(Kind::Float)
        , FFloat(value)
    { }
    TFmtArg(const QString &value)
        : FKind(Kind::Text)
        , FText(value)
    { }
    TFmtArg(QLatin1String value)
        : FKind(Kind::Text)
        , FText(value)
    { }
    // Text must say its encoding: QStringLiteral, QLatin1String or QString::fromUtf8.
    TFmtArg(const char *) = delete;

    Kind kind() const { return FKind; }
    qint64 asInteger() const { return FInt; }
    double asFloat() const { return FKind == Kind::Integer ? double(FInt) : FFloat; }
    const QString &asText() const { return FText; }

private:
    Kind FKind;
    qint64 FInt = 0;
    double FFloat = 0.0;
    QString FText;
};

// Fills a statement template. Specifiers: "%d" integer in decimal, "%s" text
// inserted as is (no quoting, no escaping), "%g" float (an integer is accepted
// too) with at most 15 significant digits, no trailing zeros and "." as the
// decimal separator whatever the locale, "%%" one "%". Exponent notation
// ("1E-6", "1.5E20") is used only when more than 15 digits stand before the
// point or the magnitude is below 0.00001.
// Throws EFormatError when the specifiers do not match the arguments in count
// or kind, for an unknown specifier, and for a non-finite float.
QString SQLFormat(const QString &tmpl, std::initializer_list<TFmtArg> args);
QString SQLFormat(const QString &tmpl, const QList<TFmtArg> &args);

// The "%g" text of one value, as above.
QString FormatFloatG(double value);

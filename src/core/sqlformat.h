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
        : m_kind(Kind::Integer)
        , m_int(value)
    { }
    TFmtArg(unsigned value)
        : m_kind(Kind::Integer)
        , m_int(value)
    { }
    TFmtArg(long value)
        : m_kind(Kind::Integer)
        , m_int(value)
    { }
    TFmtArg(unsigned long value)
        : m_kind(Kind::Integer)
        , m_int(qint64(value))
    { }
    TFmtArg(long long value)
        : m_kind(Kind::Integer)
        , m_int(value)
    { }
    TFmtArg(unsigned long long value)
        : m_kind(Kind::Integer)
        , m_int(qint64(value))
    { }
    TFmtArg(double value)
        : m_kind(Kind::Float)
        , m_float(value)
    { }
    TFmtArg(const QString &value)
        : m_kind(Kind::Text)
        , m_text(value)
    { }
    TFmtArg(QLatin1String value)
        : m_kind(Kind::Text)
        , m_text(value)
    { }
    // Text must say its encoding: QStringLiteral, QLatin1String or QString::fromUtf8.
    TFmtArg(const char *) = delete;

    Kind kind() const { return m_kind; }
    qint64 asInteger() const { return m_int; }
    double asFloat() const { return m_kind == Kind::Integer ? double(m_int) : m_float; }
    const QString &asText() const { return m_text; }

private:
    Kind m_kind;
    qint64 m_int = 0;
    double m_float = 0.0;
    QString m_text;
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

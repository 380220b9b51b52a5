#include "core/sqlformat.h"

#include "core/exceptions.h"

#include <cmath>

namespace {

[[noreturn]] void formatError(const QString &tmpl, const QString &why)
{
    throw EFormatError(
        QStringLiteral("Format '%1' invalid or incompatible with argument: %2").arg(tmpl, why));
}

} // namespace

QString FormatFloatG(double value)
{
    if (!std::isfinite(value))
        throw EFormatError(QStringLiteral("Invalid floating point value for %g"));
    if (value == 0.0)
        return QStringLiteral("0");

    // Round to 15 significant digits first; the rounded exponent decides the
    // notation. QString::number never uses the locale.
    const QString sci = QString::number(value, 'e', 14); // [-]d.dddddddddddddde[+-]XX
    const qsizetype ePos = sci.indexOf(QLatin1Char('e'));
    const bool negative = sci.startsWith(QLatin1Char('-'));
    QString digits = sci.mid(negative ? 1 : 0, ePos - (negative ? 1 : 0));
    digits.remove(QLatin1Char('.'));
    const int exponent = sci.mid(ePos + 1).toInt();
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    QString out;
    if (negative)
        out += QLatin1Char('-');
    if (exponent >= 15 || exponent < -5) {
        out += digits.at(0);
        if (digits.size() > 1) {
            out += QLatin1Char('.');
            out += QStringView(digits).mid(1);
        }
        out += QLatin1Char('E');
        out += QString::number(exponent);
    } else if (exponent < 0) {
        out += QStringLiteral("0.");
        out += QString(-exponent - 1, QLatin1Char('0'));
        out += digits;
    } else if (digits.size() <= exponent + 1) {
        out += digits;
        out += QString(exponent + 1 - digits.size(), QLatin1Char('0'));
    } else {
        out += QStringView(digits).left(exponent + 1);
        out += QLatin1Char('.');
        out += QStringView(digits).mid(exponent + 1);
    }
    return out;
}

QString SQLFormat(const QString &tmpl, const QList<TFmtArg> &args)
{
    QString out;
    out.reserve(tmpl.size() + 16 * args.size());
    qsizetype next = 0;
    const qsizetype n = tmpl.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = tmpl.at(i);
        if (c != QLatin1Char('%')) {
            out += c;
            continue;
        }
        if (i + 1 >= n)
            formatError(tmpl, QStringLiteral("lone '%' at the end"));
        const QChar conv = tmpl.at(++i);
        if (conv == QLatin1Char('%')) {
            out += QLatin1Char('%');
            continue;
        }
        if (conv != QLatin1Char('d') && conv != QLatin1Char('s') && conv != QLatin1Char('g'))
            formatError(tmpl, QStringLiteral("unknown specifier '%%1'").arg(conv));
        if (next >= args.size())
            formatError(tmpl, QStringLiteral("too few arguments"));
        const TFmtArg &arg = args.at(next++);
        if (conv == QLatin1Char('d')) {
            if (arg.kind() != TFmtArg::Kind::Integer)
                formatError(tmpl, QStringLiteral("%d needs an integer"));
            out += QString::number(arg.asInteger());
        } else if (conv == QLatin1Char('s')) {
            if (arg.kind() != TFmtArg::Kind::Text)
                formatError(tmpl, QStringLiteral("%s needs a text"));
            out += arg.asText();
        } else {
            if (arg.kind() == TFmtArg::Kind::Text)
                formatError(tmpl, QStringLiteral("%g needs a number"));
            out += FormatFloatG(arg.asFloat());
        }
    }
    if (next != args.size())
        formatError(tmpl, QStringLiteral("too many arguments"));
    return out;
}

QString SQLFormat(const QString &tmpl, std::initializer_list<TFmtArg> args)
{
    return SQLFormat(tmpl, QList<TFmtArg>(args));
}

#include "core/textfiles.h"

#include "core/exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; the five unassigned
// bytes map to the control characters of the same value, as Windows does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString decodeCp1252(QByteArrayView bytes)
{
    QString result(bytes.size(), Qt::Uninitialized);
    QChar *out = result.data();
    for (char c : bytes) {
        const uchar b = uchar(c);
        *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b));
    }
    return result;
}

QString decode(QStringConverter::Encoding encoding, QByteArrayView bytes)
{
    // The caller has removed the byte-order mark; a second one is text.
    QStringDecoder decoder(encoding, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QString decodeText(const QByteArray &bytes)
{
    const QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        return decode(QStringConverter::Utf8, view.sliced(3));
    if (view.startsWith("\xFF\xFE"))
        return decode(QStringConverter::Utf16LE, view.sliced(2));
    if (view.startsWith("\xFE\xFF"))
        return decode(QStringConverter::Utf16BE, view.sliced(2));

    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(view);
    if (!utf8.hasError())
        return text;
    return decodeCp1252(view);
}

// Every line break (CR LF, LF or CR) as CR LF.
QString normalizeLineBreaks(const QString &text)
{
    QString result;
    result.reserve(text.size() + text.size() / 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            result.append(QLatin1String("\r\n"));
            if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            result.append(QLatin1String("\r\n"));
        } else {
            result.append(c);
        }
    }
    return result;
}

} // namespace

QString LoadTextFile(const QString &sFileName)
{
    QFile file(sFileName);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw EOSError(QStringLiteral("Cannot read \"%1\": %2.").arg(sFileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EOSError(QStringLiteral("Cannot read \"%1\": %2.").arg(sFileName, file.errorString()));

    QString text = normalizeLineBreaks(decodeText(bytes));
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    return text;
}

bool SaveTextFile(const QString &sText, const QString &sFileName)
{
    QString text = normalizeLineBreaks(sText);
    if (!text.isEmpty() && !text.endsWith(QLatin1String("\r\n")))
        text.append(QLatin1String("\r\n"));
    const QByteArray bytes = text.toUtf8();

    // Written beside the target and renamed over it, so a failed write leaves
    // the old file whole; a folder we may not create files in falls back to
    // writing in place.
    QSaveFile file(sFileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw EOSError(QStringLiteral("Cannot write \"%1\": %2.").arg(sFileName, reason));
    }
    return true;
}

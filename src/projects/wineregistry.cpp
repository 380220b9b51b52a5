#include "projects/wineregistry.h"

#include <QFile>
#include <QStringList>

namespace {

// Hive files of real prefixes are a few MB; anything far larger is not one.
constexpr qint64 MaxHiveSize = 512 * 1024 * 1024;

constexpr int RegSz = 1;
constexpr int RegExpandSz = 2;

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads an escaped string from sLine at iPos up to the unescaped cEnd, and
// leaves iPos after that character. Escapes as Wine writes them: \\ \" \n
// and the other C letters, \xH to \xHHHH, \O to \OOO. False when cEnd is
// missing.
bool ReadEscaped(const QString &sLine, qsizetype &iPos, QChar cEnd, QString &sOut)
{
    sOut.clear();
    const qsizetype n = sLine.size();
    while (iPos < n) {
        const QChar c = sLine.at(iPos++);
        if (c == cEnd)
            return true;
        if (c != u'\\') {
            sOut += c;
            continue;
        }
        if (iPos >= n)
            return false;
        const QChar e = sLine.at(iPos++);
        switch (e.unicode()) {
        case u'a':
            sOut += QChar(7);
            break;
        case u'b':
            sOut += QChar(8);
            break;
        case u'e':
            sOut += QChar(27);
            break;
        case u'f':
            sOut += QChar(12);
            break;
        case u'n':
            sOut += QChar(10);
            break;
        case u'r':
            sOut += QChar(13);
            break;
        case u't':
            sOut += QChar(9);
            break;
        case u'v':
            sOut += QChar(11);
            break;
        case u'x': {
            uint v = 0;
            int digits = 0;
            while (digits < 4 && iPos < n && HexDigit(sLine.at(iPos)) >= 0) {
                v = v * 16 + uint(HexDigit(sLine.at(iPos++)));
                ++digits;
            }
            sOut += digits ? QChar(char16_t(v)) : QChar(u'x');
            break;
        }
        default:
            if (e >= u'0' && e <= u'7') {
                uint v = uint(e.unicode() - u'0');
                for (int i = 1; i < 3 && iPos < n && sLine.at(iPos) >= u'0' && sLine.at(iPos) <= u'7'; ++i)
                    v = v * 8 + uint(sLine.at(iPos++).unicode() - u'0');
                sOut += QChar(char16_t(v));
            } else {
                sOut += e;
            }
        }
    }
    return false;
}

// "hex:" and "hex(N):" data: comma-separated bytes, lines continued with a
// trailing "\". Consumes the continuation lines. False on malformed data.
bool ReadHex(const QStringList &lines, qsizetype &iLine, QString sData, QByteArray &bytes)
{
    bytes.clear();
    for (;;) {
        sData = sData.trimmed();
        bool bMore = false;
        if (sData.endsWith(u'\\')) {
            bMore = true;
            sData.chop(1);
        }
        const QStringList parts = sData.split(u',', Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            bool bOk = false;
            const QString t = part.trimmed();
            const uint v = t.toUInt(&bOk, 16);
            if (!bOk || t.size() > 2 || v > 0xff)
                return false;
            bytes += char(v);
        }
        if (!bMore || iLine + 1 >= lines.size())
            return true;
        sData = lines.at(++iLine);
    }
}

QString Utf16Text(const QByteArray &bytes)
{
    QString s;
    s.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        s += QChar(char16_t(uchar(bytes.at(i)) | (uchar(bytes.at(i + 1)) << 8)));
    // String data keeps its terminating NUL.
    while (s.endsWith(QChar(0)))
        s.chop(1);
    return s;
}

} // namespace

QString TWineRegistry::NormalizeKey(const QString &sKey)
{
    return sKey.split(u'\\', Qt::SkipEmptyParts).join(u'\\').toLower();
}

void TWineRegistry::Clear()
{
    FWin64 = false;
    FKeyNames.clear();
    FValues.clear();
}

bool TWineRegistry::LoadFromFile(const QString &sFileName)
{
    Clear();
    QFile f(sFileName);
    if (!f.open(QIODevice::ReadOnly) || f.size() > MaxHiveSize)
        return false;
    return LoadFromText(f.readAll());
}

bool TWineRegistry::LoadFromText(const QByteArray &data)
{
    Clear();
    QString sText = QString::fromUtf8(data);
    if (sText.startsWith(QChar(0xfeff)))
        sText.remove(0, 1);
    const QStringList lines = sText.split(u'\n');

    qsizetype iLine = 0;
    while (iLine < lines.size() && lines.at(iLine).trimmed().isEmpty())
        ++iLine;
    if (iLine >= lines.size() || !lines.at(iLine).startsWith(QLatin1String("WINE REGISTRY Version 2")))
        return false;

    QString sKey; // normalised; empty before the first key line
    bool bInKey = false;
    for (++iLine; iLine < lines.size(); ++iLine) {
        QString sLine = lines.at(iLine);
        if (sLine.endsWith(u'\r'))
            sLine.chop(1);
        if (sLine.isEmpty() || sLine.startsWith(u';'))
            continue;
        if (sLine.startsWith(u'#')) {
            if (!bInKey && sLine.trimmed() == QLatin1String("#arch=win64"))
                FWin64 = true;
            continue;
        }
        qsizetype iPos = 0;
        if (sLine.startsWith(u'[')) {
            iPos = 1;
            QString sName;
            bInKey = false;
            if (!ReadEscaped(sLine, iPos, u']', sName))
                continue;
            sKey = NormalizeKey(sName);
            if (sKey.isEmpty())
                continue;
            bInKey = true;
            // Wine writes only keys that hold values or have no subkeys, so
            // every parent counts as present too.
            for (qsizetype i = sKey.indexOf(u'\\'); i >= 0; i = sKey.indexOf(u'\\', i + 1))
                FKeyNames.insert(sKey.left(i));
            FKeyNames.insert(sKey);
            continue;
        }
        if (!bInKey)
            continue;

        QString sName;
        if (sLine.startsWith(u'@')) {
            iPos = 1;
        } else if (sLine.startsWith(u'"')) {
            iPos = 1;
            if (!ReadEscaped(sLine, iPos, u'"', sName))
                continue;
        } else {
            continue;
        }
        if (iPos >= sLine.size() || sLine.at(iPos) != u'=')
            continue;
        ++iPos;
        const QString sData = sLine.mid(iPos);
        sName = sName.toLower();

        QString sValue;
        bool bString = false;
        if (sData.startsWith(u'"')) {
            qsizetype i = 1;
            bString = ReadEscaped(sData, i, u'"', sValue);
        } else if (sData.startsWith(QLatin1String("str("))) {
            const qsizetype iClose = sData.indexOf(QLatin1String("):\""));
            bool bOk = false;
            const int iType = iClose > 4 ? sData.mid(4, iClose - 4).toInt(&bOk) : 0;
            qsizetype i = iClose + 3;
            bString = bOk && (iType == RegSz || iType == RegExpandSz) && ReadEscaped(sData, i, u'"', sValue);
        } else if (sData.startsWith(QLatin1String("hex"))) {
            int iType = 3; // REG_BINARY
            qsizetype iColon = 3;
            if (sData.mid(3, 1) == QLatin1String("(")) {
                const qsizetype iClose = sData.indexOf(QLatin1String("):"));
                bool bOk = false;
                iType = iClose > 4 ? sData.mid(4, iClose - 4).toInt(&bOk, 16) : 0;
                if (!bOk)
                    continue;
                iColon = iClose + 1;
            }
            if (sData.mid(iColon, 1) != QLatin1String(":"))
                continue;
            QByteArray bytes;
            if (ReadHex(lines, iLine, sData.mid(iColon + 1), bytes)
                && (iType == RegSz || iType == RegExpandSz)) {
                sValue = Utf16Text(bytes);
                bString = true;
            }
        }
        if (bString)
            FValues[sKey].insert(sName, sValue);
        else
            FValues[sKey].remove(sName); // a later non-string value replaces a string
    }
    return true;
}

bool TWineRegistry::KeyExists(const QString &sKey) const
{
    return FKeyNames.contains(NormalizeKey(sKey));
}

bool TWineRegistry::ReadString(const QString &sKey, const QString &sName, QString &sValue) const
{
    const auto key = FValues.constFind(NormalizeKey(sKey));
    if (key == FValues.cend())
        return false;
    const auto value = key->constFind(sName.toLower());
    if (value == key->cend())
        return false;
    sValue = *value;
    return true;
}

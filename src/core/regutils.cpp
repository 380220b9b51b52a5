#include "regutils.h"

#include "core/exceptions.h"
#include "core/runtempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

TParams *Params = nullptr;

namespace {

const QLatin1String kMagic("#BundlewickParams");
const QLatin1String kFormatVersion("1");
const QLatin1String kFileName("params.conf");

// One line of the file: the entry, plus the hex text of raw bytes, which is
// carried through a save untouched because raw values are never written by us.
struct TRecord
{
    TParams::TEntry entry;
    QString sRaw;
};

struct TFileContents
{
    bool bForeign = false; // the header names another root key
    bool bUnreadable = false; // there, but cannot be read: must not be replaced
    std::vector<TRecord> records;
};

QString CaseKey(const QString &sName)
{
    return sName.toCaseFolded();
}

// Fields are separated by tabs; everything that an editor or the line split
// could change is escaped: backslash, control characters, leading and trailing
// spaces, and unpaired surrogates (which UTF-8 cannot carry).
QString Escape(const QString &s)
{
    QString out;
    out.reserve(s.size() + 8);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        const char16_t u = c.unicode();
        if (u == u'\\') {
            out += QLatin1String("\\\\");
        } else if (u == u'\t') {
            out += QLatin1String("\\t");
        } else if (u == u'\n') {
            out += QLatin1String("\\n");
        } else if (u == u'\r') {
            out += QLatin1String("\\r");
        } else if (u < 0x20 || u == 0x7f || (u == u' ' && (i == 0 || i == s.size() - 1))) {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            out += c;
            out += s.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<QString> Unescape(QStringView s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt; // raw control characters are never written
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= s.size())
            return std::nullopt;
        const char16_t e = s.at(i).unicode();
        int digits = 0;
        switch (e) {
        case u'\\':
            out += QLatin1Char('\\');
            break;
        case u't':
            out += QLatin1Char('\t');
            break;
        case u'n':
            out += QLatin1Char('\n');
            break;
        case u'r':
            out += QLatin1Char('\r');
            break;
        case u'x':
            digits = 2;
            break;
        case u'u':
            digits = 4;
            break;
        default:
            return std::nullopt;
        }
        if (digits) {
            if (i + digits >= s.size())
                return std::nullopt;
            const QStringView hex = s.mid(i + 1, digits);
            if (!std::all_of(hex.begin(), hex.end(),
                             [](QChar h) { return h.unicode() < 0x80 && isxdigit(h.unicode()); }))
                return std::nullopt;
            const uint code = hex.toUInt(nullptr, 16);
            out += QChar(char16_t(code));
            i += digits;
        }
    }
    return out;
}

bool IsHexBytes(const QString &s)
{
    if (s.size() % 2)
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](QChar c) { return isxdigit(c.unicode()) && c.unicode() < 0x80; });
}

QString JoinName(const QString &sPath, const QString &sValueName)
{
    return sPath.isEmpty() ? sValueName : sPath + QLatin1Char('\\') + sValueName;
}

std::optional<TRecord> ParseRecord(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() != 4)
        return std::nullopt;
    const auto path = Unescape(fields.at(0));
    const auto name = Unescape(fields.at(1));
    bool ok = false;
    const int type = fields.at(2).toInt(&ok);
    if (!path || !name || !ok || type < TParams::vtNone || type > TParams::vtBinary)
        return std::nullopt;

    TRecord rec;
    rec.entry.sName = JoinName(*path, *name);
    rec.entry.iType = type;
    if (type == TParams::vtInteger) {
        const int v = fields.at(3).toInt(&ok);
        if (!ok)
            return std::nullopt;
        rec.entry.sValue = QString::number(v);
    } else if (type == TParams::vtBinary) {
        if (!IsHexBytes(fields.at(3)))
            return std::nullopt;
        rec.sRaw = fields.at(3).toLower();
    } else {
        const auto value = Unescape(fields.at(3));
        if (!value)
            return std::nullopt;
        rec.entry.sValue = *value;
    }
    return rec;
}

// Reads what can be read: lines that do not parse are skipped, a later line
// for the same name (ignoring case) replaces an earlier one.
TFileContents ReadFile(const QString &sFileName, const QString &sRootKey)
{
    TFileContents result;
    QFile file(sFileName);
    if (!file.open(QIODevice::ReadOnly)) {
        result.bUnreadable = file.exists();
        return result;
    }
    const QByteArray bytes = file.readAll();

    QHash<QString, size_t> index;
    for (QByteArray raw : bytes.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.isEmpty())
            continue;
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = decoder.decode(raw);
        if (decoder.hasError())
            continue;
        if (line.startsWith(QLatin1Char('#'))) {
            const QStringList header = line.split(QLatin1Char('\t'));
            if (header.size() == 3 && header.at(0) == kMagic) {
                const auto root = Unescape(header.at(2));
                if (root && root->compare(sRootKey, Qt::CaseInsensitive) != 0) {
                    result.bForeign = true;
                    result.records.clear();
                    return result;
                }
            }
            continue;
        }
        auto rec = ParseRecord(line);
        if (!rec)
            continue;
        const QString key = CaseKey(rec->entry.sName);
        const auto it = index.constFind(key);
        if (it != index.constEnd()) {
            result.records[*it] = std::move(*rec);
        } else {
            index.insert(key, result.records.size());
            result.records.push_back(std::move(*rec));
        }
    }
    return result;
}

QString ConfigHome()
{
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return QDir::cleanPath(env);
    return QDir::homePath() + QLatin1String("/.config");
}

// "SOFTWARE\orro{}\Bundlewick" -> <config>/orro{}/Bundlewick/params.conf
QString StoreFileName(const QString &sRootKey)
{
    QStringList parts;
    for (const QString &part :
         sRootKey.split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            continue;
        parts << part;
    }
    if (!parts.isEmpty() && parts.first().compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    parts.prepend(ConfigHome());
    parts.append(kFileName);
    return parts.join(QLatin1Char('/'));
}

std::optional<int> ToInt(const QString &s)
{
    bool ok = false;
    const int v = s.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(v) : std::nullopt;
}

std::optional<double> ToFloat(QString s)
{
    s.remove(QLatin1Char(','));
    bool ok = false;
    const double v = QLocale::c().toDouble(s.trimmed(), &ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// name=value lines as a list whose names match ignoring case.
qsizetype IndexOfName(const QStringList &list, const QString &sName)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        const qsizetype eq = list.at(i).indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(list.at(i)).left(eq).compare(sName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace

QString TParams::TEntry::KeyPath() const
{
    const qsizetype slash = sName.lastIndexOf(QLatin1Char('\\'));
    return slash < 0 ? QString() : sName.left(slash);
}

QString TParams::TEntry::ValueName() const
{
    return sName.mid(sName.lastIndexOf(QLatin1Char('\\')) + 1);
}

TParams::TParams(const QString &sRootKey)
    : TParams(sRootKey, StoreFileName(sRootKey))
{ }

TParams::TParams(const QString &sRootKey, const QString &sFileName)
    : FRootKey(sRootKey)
    , FFileName(sFileName)
{
    LoadData();
}

TParams::~TParams()
{
    try {
        SaveData();
    } catch (...) {
        // Losing the positions of a session is better than failing to end.
    }
}

void TParams::LoadData()
{
    // An older file or folder left readable by others is made private.
    if (QFileInfo::exists(FFileName)) {
        MakePrivateFile(FFileName);
        try {
            MakePrivateDir(QFileInfo(FFileName).absolutePath());
        } catch (const Exception &) { }
    }
    TFileContents contents = ReadFile(FFileName, FRootKey);
    FList.clear();
    FList.reserve(contents.records.size());
    for (TRecord &rec : contents.records)
        FList.push_back(std::move(rec.entry));
}

bool TParams::SaveData()
{
    std::stable_sort(FList.begin(), FList.end(), [](const TEntry &a, const TEntry &b) {
        return QString::compare(a.sName + QLatin1Char('=') + a.sValue, b.sName + QLatin1Char('=') + b.sValue,
                                Qt::CaseInsensitive)
            < 0;
    });

    // Values are never deleted: start from what the file holds now, which
    // also keeps values written by another process that we do not know of.
    TFileContents contents = ReadFile(FFileName, FRootKey);
    if (contents.bForeign || contents.bUnreadable)
        return false;
    std::vector<TRecord> &records = contents.records;
    QHash<QString, size_t> index;
    for (size_t i = 0; i < records.size(); ++i)
        index.insert(CaseKey(records[i].entry.sName), i);

    for (const TEntry &entry : FList) {
        if (entry.iType == vtBinary)
            continue;
        TRecord rec;
        rec.entry.sName = entry.sName;
        if (entry.iType == vtInteger) {
            rec.entry.iType = vtInteger;
            rec.entry.sValue = QString::number(ToInt(entry.sValue).value_or(0));
        } else {
            rec.entry.iType = vtString;
            rec.entry.sValue = entry.sValue;
        }
        const QString key = CaseKey(entry.sName);
        const auto it = index.constFind(key);
        if (it != index.constEnd()) {
            records[*it] = std::move(rec);
        } else {
            index.insert(key, records.size());
            records.push_back(std::move(rec));
        }
    }

    std::stable_sort(records.begin(), records.end(), [](const TRecord &a, const TRecord &b) {
        return QString::compare(a.entry.sName, b.entry.sName, Qt::CaseInsensitive) < 0;
    });

    QString text = kMagic + QLatin1Char('\t') + kFormatVersion + QLatin1Char('\t') + Escape(FRootKey)
        + QLatin1Char('\n');
    for (const TRecord &rec : records) {
        text += Escape(rec.entry.KeyPath()) + QLatin1Char('\t') + Escape(rec.entry.ValueName())
            + QLatin1Char('\t') + QString::number(rec.entry.iType) + QLatin1Char('\t')
            + (rec.entry.iType == vtBinary        ? rec.sRaw
                   : rec.entry.iType == vtInteger ? rec.entry.sValue
                                                  : Escape(rec.entry.sValue))
            + QLatin1Char('\n');
    }

    try {
        MakePrivateDir(QFileInfo(FFileName).absolutePath());
    } catch (const Exception &) {
        return false;
    }
    // Written aside and renamed over the old file, so that a crash or a full
    // disk leaves the previous parameters in place.
    QSaveFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Set on the new copy before it replaces the old file: never readable by others.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString TParams::ListData() const
{
    QString text;
    for (const TEntry &entry : FList)
        text += entry.sName + QLatin1Char('=') + entry.sValue + QLatin1Char('\n');
    return text;
}

int TParams::IndexOf(const QString &sName) const
{
    for (size_t i = 0; i < FList.size(); ++i) {
        if (FList[i].sName.compare(sName, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

void TParams::Append(const QString &sName, const QString &sValue, int iType)
{
    FList.push_back(TEntry { sName, sValue, iType });
}

QString TParams::GetStr(const QString &sName, const QString &sDefault) const
{
    const int i = IndexOf(sName);
    return i < 0 ? sDefault : FList[i].sValue;
}

int TParams::GetInt(const QString &sName, int iDefault) const
{
    const int i = IndexOf(sName);
    return i < 0 ? iDefault : ToInt(FList[i].sValue).value_or(iDefault);
}

bool TParams::GetBool(const QString &sName, bool bDefault) const
{
    return GetInt(sName, bDefault ? 1 : 0) != 0;
}

double TParams::GetFloat(const QString &sName, double dDefault) const
{
    const int i = IndexOf(sName);
    return i < 0 ? dDefault : ToFloat(FList[i].sValue).value_or(dDefault);
}

void TParams::SetStr(const QString &sName, const QString &sValue)
{
    const int i = IndexOf(sName);
    if (i < 0) {
        Append(sName, sValue, vtString);
        return;
    }
    if (FList[i].sValue == sValue)
        return;
    if (sValue.isEmpty()) {
        // Re-added as a plain string so that the empty text is written over
        // the old value at the next save.
        FList.erase(FList.begin() + i);
        Append(sName, QString(), vtNone);
        return;
    }
    FList[i].sName = sName;
    FList[i].sValue = sValue;
}

void TParams::SetInt(const QString &sName, int iValue)
{
    const int i = IndexOf(sName);
    if (i < 0) {
        Append(sName, QString::number(iValue), vtInteger);
        return;
    }
    // Compared as numbers, so that an unchanged value keeps its text and type.
    const auto current = ToInt(FList[i].sValue);
    if (!current || *current != iValue) {
        FList[i].sName = sName;
        FList[i].sValue = QString::number(iValue);
    }
}

void TParams::SetBool(const QString &sName, bool bValue)
{
    SetInt(sName, bValue ? 1 : 0);
}

void TParams::SetFloat(const QString &sName, double dValue)
{
    const QString text = QString::number(dValue, 'g', 15);
    const int i = IndexOf(sName);
    if (i < 0) {
        Append(sName, text, vtString);
        return;
    }
    const auto current = ToFloat(FList[i].sValue);
    if (!current || *current != dValue) {
        FList[i].sName = sName;
        FList[i].sValue = text;
    }
}

void TParams::GetNameValueList(const QString &sName, QStringList &oList) const
{
    oList.clear();
    for (const TEntry &entry : FList) {
        if (entry.KeyPath() != sName || entry.sValue.isEmpty())
            continue;
        const QString line = entry.ValueName() + QLatin1Char('=') + entry.sValue;
        const qsizetype at = IndexOfName(oList, entry.ValueName());
        if (at >= 0)
            oList[at] = line;
        else
            oList << line;
    }
}

void TParams::SetNameValueList(const QString &sName, const QStringList &oList)
{
    for (const QString &line : oList) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString name = sName + QLatin1Char('\\') + line.left(eq);
        const QString value = line.mid(eq + 1);
        const int i = IndexOf(name);
        if (value.isEmpty()) {
            if (i >= 0)
                FList.erase(FList.begin() + i);
        } else if (i >= 0) {
            FList[i].sName = name;
            FList[i].sValue = value;
        } else {
            Append(name, value, vtNone);
        }
    }
}

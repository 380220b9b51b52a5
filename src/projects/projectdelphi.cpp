#include "projects/projectdelphi.h"

#include "core/exceptions.h"
#include "core/textfiles.h"
#include "diagnostics/diaglog.h"
#include "projects/librarydelphi.h"
#include "projects/wineprefix.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

namespace {

const QLatin1String BdsAnswer("bds");

inline char16_t LowerAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// First occurrence of the lower-case ASCII word at or after iFrom, letters
// compared without regard to case (ASCII only: the scan is shallow).
qsizetype IndexOfAscii(QStringView sText, QLatin1StringView sWord, qsizetype iFrom)
{
    const qsizetype n = sText.size();
    const qsizetype m = sWord.size();
    if (m == 0 || iFrom < 0)
        return -1;
    const char16_t first = char16_t(uchar(sWord.at(0).toLatin1()));
    for (qsizetype i = iFrom; i + m <= n; ++i) {
        if (LowerAscii(sText.at(i).unicode()) != first)
            continue;
        qsizetype j = 1;
        while (j < m && LowerAscii(sText.at(i + j).unicode()) == char16_t(uchar(sWord.at(j).toLatin1())))
            ++j;
        if (j == m)
            return i;
    }
    return -1;
}

// Trim as Delphi does it: every character up to the blank counts.
QStringView TrimBlanks(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b).unicode() <= u' ')
        ++b;
    while (e > b && s.at(e - 1).unicode() <= u' ')
        --e;
    return s.mid(b, e - b);
}

// A name goes before the first "=" of its item, so it must not hold one.
QString ItemName(const QString &sName)
{
    QString s = sName;
    s.replace(u'=', u'_');
    return s;
}

// The file name without its last extension.
QString BaseName(const QString &sPath)
{
    const qsizetype slash = qMax(sPath.lastIndexOf(u'/'), sPath.lastIndexOf(u'\\'));
    const QString sName = sPath.mid(slash + 1);
    const qsizetype dot = sName.lastIndexOf(u'.');
    return dot < 0 ? sName : sName.left(dot);
}

bool IsWindowsAbsolute(const QString &sPath)
{
    if (sPath.size() >= 2 && sPath.at(1) == u':' && sPath.at(0).unicode() < 128 && sPath.at(0).isLetter())
        return true;
    return sPath.startsWith(u'\\');
}

// The single place parse failures go to the diagnostics log (why 1 = error).
void LogParseFailure(const QString &sText)
{
    if (DiagLog)
        DiagLog->Log(QStringLiteral("TProjectDelphi"), sText, lwError);
}

} // namespace

TProjectDelphi::TProjectDelphi(int iID, const QString &sTitle, const QString &sFilename,
                               TAfterParseEvent oAfterParse)
    : TProject(pkDelphi, iID, sTitle, sFilename, std::move(oAfterParse))
{ }

TProjectDelphi::~TProjectDelphi() = default;

void TProjectDelphi::Parse()
{
    FParseErrors.clear();
    FLibraryFailed = false;
    FNotFound.clear();
    FDirCache.clear();
    FResolved.clear();
    FNames.clear();
    FPaths.clear();
    for (const TFileItem &item : Items()) {
        if (item.iFileID != 0)
            continue;
        const qsizetype eq = item.sText.indexOf(u'=');
        if (eq >= 0) {
            FNames.insert(item.sText.left(eq).toCaseFolded());
            FPaths.insert(item.sText.mid(eq + 1));
        }
    }

    if (!FFilename.isEmpty()) {
        const QString sResolved = ResolveRelative(FFilename, QString());
        const QString sProject = sResolved.isEmpty() ? FFilename : sResolved;
        if (sProject.endsWith(QLatin1String(".dpr"), Qt::CaseInsensitive))
            AddFileItem(sProject.chopped(4) + QLatin1String(".dproj"));
        ParseFile(sProject);
    }
    FDirCache.clear();
    FResolved.clear();
    FNotFound.clear();

    TProject::Parse();
}

void TProjectDelphi::ParseFile(const QString &sFile)
{
    // Breadth first and without recursion: a project of thousands of units
    // would otherwise nest a call per queued file.
    // The project file is collected even when the ".dproj" took its name.
    ScanFile(sFile, false);
    while (!FNextList.isEmpty())
        ScanFile(FNextList.dequeue(), true);
}

void TProjectDelphi::ScanFile(const QString &sFile, bool bCheckName)
{
    FCurrentFile = sFile;
    AddFileItem(sFile, bCheckName);

    QString sText;
    if (QFileInfo(sFile).isFile()) {
        try {
            sText = LoadTextFile(sFile);
        } catch (const Exception &e) {
            NoteError(e.Message());
        }
    }
    const QStringView text(sText);
    const qsizetype iBegin = FindKeyword(text, QLatin1String("begin"));
    const QStringView head = iBegin >= 0 ? text.left(iBegin) : text;
    ScanDirectives(head);
    ScanUses(head);
}

qsizetype TProjectDelphi::FindKeyword(QStringView sText, QLatin1StringView sWord, qsizetype iFrom)
{
    for (qsizetype i = IndexOfAscii(sText, sWord, iFrom); i >= 0; i = IndexOfAscii(sText, sWord, i + 1)) {
        qsizetype j = i - 1;
        while (j >= 0 && sText.at(j) == u' ')
            --j;
        if (j < 0 || sText.at(j) == u'\r' || sText.at(j) == u'\n')
            return i;
    }
    return -1;
}

void TProjectDelphi::ScanDirectives(QStringView sHead)
{
    const qsizetype n = sHead.size();
    qsizetype pos = 0;
    for (;;) {
        const qsizetype i = sHead.indexOf(u"{$", pos);
        if (i < 0 || i + 3 >= n)
            return;
        const char16_t letter = LowerAscii(sHead.at(i + 2).unicode());
        if ((letter != u'i' && letter != u'r') || sHead.at(i + 3) != u' ') {
            pos = i + 1;
            continue;
        }
        qsizetype a = i + 3;
        while (a < n && sHead.at(a).unicode() <= u' ')
            ++a;
        const qsizetype close = sHead.indexOf(u'}', a);
        if (close < 0)
            return; // no later directive can be closed either
        // Blanks before the "}" are no part of a file name.
        AddInclude(TrimBlanks(sHead.mid(a, close - a)).toString());
        pos = close + 1;
    }
}

void TProjectDelphi::ScanUses(QStringView sHead)
{
    qsizetype pos = 0;
    for (;;) {
        const qsizetype k = FindKeyword(sHead, QLatin1String("uses"), pos);
        if (k < 0)
            return;
        const qsizetype start = k + 5; // the keyword and the one character after it
        const qsizetype semi = start <= sHead.size() ? sHead.indexOf(u';', start) : -1;
        if (semi < 0)
            return;
        qsizetype from = start;
        for (;;) {
            const qsizetype comma = sHead.indexOf(u',', from);
            const qsizetype end = (comma < 0 || comma > semi) ? semi : comma;
            AddUnit(sHead.mid(from, end - from));
            if (end == semi)
                break;
            from = end + 1;
        }
        pos = semi + 1;
    }
}

void TProjectDelphi::AddFileItem(const QString &sPath, bool bCheckName)
{
    const QString sName = BaseName(sPath);
    // Only a queued file can meet its name here, and queued files exist: the
    // check first saves looking them up again.
    if (bCheckName && HasName(sName))
        return;
    QString sFile = ResolveRelative(sPath, CurrentFolder());
    if (sFile.isEmpty()) {
        sFile = LibraryLookup(sName);
        if (sFile == BdsAnswer || !QFileInfo(sFile).isFile())
            return;
    }
    AddParsedItem(sName, sFile);
}

void TProjectDelphi::AddUnit(QStringView sItem)
{
    // A line comment ends at its line; line breaks and tabs go.
    QString sClean;
    sClean.reserve(sItem.size());
    for (qsizetype i = 0, n = sItem.size(); i < n; ++i) {
        const QChar c = sItem.at(i);
        if (c == u'/' && i + 1 < n && sItem.at(i + 1) == u'/') {
            while (i + 1 < n && sItem.at(i + 1) != u'\r' && sItem.at(i + 1) != u'\n')
                ++i;
        } else if (c != u'\r' && c != u'\n' && c != u'\t') {
            sClean += c;
        }
    }
    if (sClean.isEmpty())
        return;
    sClean = RemoveComments(sClean, QLatin1String("{"), QLatin1String("}"));
    sClean = RemoveComments(sClean, QLatin1String("(*"), QLatin1String("*)"));
    const QStringView item = TrimBlanks(sClean);

    QString sName;
    QString sFile;
    bool bInPath = false;
    const qsizetype iIn = IndexOfAscii(item, QLatin1String(" in "), 0);
    if (iIn < 0) {
        sName = item.toString();
    } else {
        sName = TrimBlanks(item.left(iIn)).toString();
        const QStringView rest = item.mid(iIn + 4);
        const qsizetype q = rest.indexOf(u'\'');
        if (q >= 0) {
            const qsizetype q2 = rest.indexOf(u'\'', q + 1);
            const QStringView quoted = q2 < 0 ? rest.mid(q + 1) : rest.mid(q + 1, q2 - q - 1);
            sFile = ResolveRelative(quoted.toString(), CurrentFolder());
            bInPath = !sFile.isEmpty();
        } else if (!rest.isEmpty()) {
            // An unquoted path: one chance to resolve; kept as written it
            // names no absolute file, so the unit is left out.
            sFile = ResolveRelative(rest.toString(), CurrentFolder());
            if (sFile.isEmpty())
                return;
            bInPath = true;
        }
    }
    // An empty name cannot be listed, so it would be queued at every mention.
    if (sName.isEmpty() || HasName(sName))
        return;
    if (!bInPath) {
        sFile = LibraryLookup(sName);
        if (sFile.isEmpty() || sFile == BdsAnswer || !QFileInfo(sFile).isFile())
            return;
    }
    AddParsedItem(sName, sFile);
    if (!sFile.endsWith(QLatin1String(".dcu"), Qt::CaseInsensitive))
        FNextList.enqueue(sFile);
}

void TProjectDelphi::AddInclude(const QString &sArgument)
{
    QString sArg = sArgument;
    sArg.remove(u'\'');
    if (sArg.isEmpty() || sArg.contains(QChar(0)))
        return;
    QString sFile;
    if (sArg.startsWith(u'*')) {
        // Named after the current file; not required to exist.
        const qsizetype slash = FCurrentFile.lastIndexOf(u'/');
        const qsizetype dot = FCurrentFile.lastIndexOf(u'.');
        if (dot <= slash || !QDir::isAbsolutePath(FCurrentFile))
            return;
        QString sRest = sArg.mid(1).toLower();
        sRest.replace(u'\\', u'/');
        sFile = QDir::cleanPath(FCurrentFile.left(dot) + sRest);
        const QString sOnDisk = FindOnDisk(sFile);
        if (!sOnDisk.isEmpty())
            sFile = sOnDisk;
    } else {
        sFile = ResolveRelative(sArg, CurrentFolder());
        if (sFile.isEmpty())
            return;
    }
    if (!FPaths.contains(sFile))
        AddParsedItem(QStringLiteral("include"), sFile);
}

QString TProjectDelphi::ResolveRelative(const QString &sPath, const QString &sFolder)
{
    if (sPath.isEmpty() || sPath.contains(QChar(0)))
        return {};
    QString sUnix = sPath;
    sUnix.replace(u'\\', u'/');
    const bool bClimbs = sUnix.contains(QLatin1String("../"));
    if (sUnix.startsWith(u'/') && !sPath.startsWith(u'\\'))
        return bClimbs ? QString() : FindOnDisk(sUnix);
    if (IsWindowsAbsolute(sPath)) {
        if (bClimbs)
            return {};
        const QString sMapped = TWinePrefix().MapPath(sPath);
        return sMapped.isEmpty() ? QString() : FindOnDisk(sMapped);
    }
    if (sFolder.isEmpty())
        return {};
    return FindOnDisk(sFolder + u'/' + sUnix);
}

QString TProjectDelphi::FindOnDisk(const QString &sPath)
{
    if (!sPath.startsWith(u'/') || sPath.contains(QChar(0)))
        return {};
    QStringList parts;
    for (const QStringView part : QStringView(sPath).split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part.toString());
    }
    if (parts.isEmpty())
        return {};
    const QString sNormal = u'/' + parts.join(u'/');

    // Units name the same files over and over: ask the disk once per parse.
    const auto known = FResolved.constFind(sNormal);
    if (known != FResolved.cend())
        return *known;
    QString sFound;
    if (QFileInfo(sNormal).isFile()) {
        sFound = sNormal;
    } else {
        // Mostly only the file name differs in case: start from the deepest
        // folder that exists as written.
        qsizetype iKnown = parts.size() - 1;
        QString sOnDisk = sNormal.left(sNormal.size() - parts.last().size() - 1);
        if (!QFileInfo(sOnDisk.isEmpty() ? QStringLiteral("/") : sOnDisk).isDir()) {
            iKnown = 0;
            sOnDisk.clear();
        }
        for (qsizetype i = iKnown; i < parts.size(); ++i) {
            const QString sName = FindEntry(sOnDisk.isEmpty() ? QStringLiteral("/") : sOnDisk, parts.at(i));
            if (sName.isEmpty()) {
                sOnDisk.clear();
                break;
            }
            sOnDisk += u'/' + sName;
        }
        if (!sOnDisk.isEmpty() && QFileInfo(sOnDisk).isFile())
            sFound = sOnDisk;
    }
    FResolved.insert(sNormal, sFound);
    return sFound;
}

QString TProjectDelphi::FindEntry(const QString &sFolder, const QString &sName)
{
    auto it = FDirCache.find(sFolder);
    if (it == FDirCache.end()) {
        TDirListing listing;
        const QStringList entries = QDir(sFolder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &entry : entries) {
            listing.exact.insert(entry);
            const QString sLower = entry.toLower();
            if (!listing.lower.contains(sLower)) // sorted, so the choice is stable
                listing.lower.insert(sLower, entry);
        }
        it = FDirCache.insert(sFolder, listing);
    }
    if (it->exact.contains(sName))
        return sName;
    return it->lower.value(sName.toLower());
}

QString TProjectDelphi::RemoveComments(const QString &sText, QLatin1StringView sOpen,
                                       QLatin1StringView sClose)
{
    // The text is always `kept` followed by sText[start, lim). `kept` holds no
    // whole marker, so a marker is either inside that tail or made of the
    // last kept character and the tail's first one (markers are one or two
    // characters). Each round moves start forward, so this is linear, with
    // the same result as cutting and searching the whole text each round.
    const qsizetype lo = sOpen.size();
    const qsizetype lc = sClose.size();
    Q_ASSERT(lo >= 1 && lo <= 2 && lc >= 1 && lc <= 2);
    QString kept;
    qsizetype start = 0;
    qsizetype lim = sText.size();
    qsizetype nextOpen = -2;
    qsizetype nextClose = -2;
    const auto find = [&](QLatin1StringView sMarker, qsizetype &cache) -> qsizetype {
        if (cache == -1)
            return -1;
        if (cache < start) {
            cache = sText.indexOf(sMarker, start);
            if (cache < 0) {
                cache = -1;
                return -1;
            }
        }
        return cache + sMarker.size() <= lim ? cache : -1;
    };
    const auto atJoint = [&](QLatin1StringView sMarker) {
        return sMarker.size() == 2 && !kept.isEmpty() && start < lim && kept.back() == sMarker.at(0)
            && sText.at(start) == sMarker.at(1);
    };

    for (;;) {
        const qsizetype kn = kept.size();
        const qsizetype oR = find(sOpen, nextOpen);
        const qsizetype cR = find(sClose, nextClose);
        const bool oJoint = atJoint(sOpen);
        const bool cJoint = !oJoint && atJoint(sClose);
        const qsizetype o = oJoint ? kn - 1 : (oR < 0 ? -1 : kn + oR - start);
        const qsizetype c = cJoint ? kn - 1 : (cR < 0 ? -1 : kn + cR - start);
        if (o < 0 && c < 0)
            break;
        if (o >= 0 && (c < 0 || o < c)) {
            // Keep what precedes the comment and what follows its end.
            if (oJoint)
                kept.chop(1);
            else
                kept += QStringView(sText).mid(start, oR - start);
            start = c < 0 ? lim : cR + lc; // c lies in the tail here
        } else {
            // A comment begun in an earlier item ends here: keep what lies
            // between its end and the next opening marker.
            kept.clear();
            start = cJoint ? start + 1 : cR + lc;
            if (o >= 0)
                lim = oR; // o lies in the tail here
        }
    }
    kept += QStringView(sText).mid(start, lim - start);
    return kept;
}

QString TProjectDelphi::LibraryLookup(const QString &sName)
{
    if (FLibraryFailed || sName.isEmpty())
        return {};
    const QString sKey = sName.toCaseFolded();
    if (FNotFound.contains(sKey))
        return {};
    QString sAnswer;
    try {
        sAnswer = TLibraryDelphi::Execute(sName);
    } catch (const Exception &e) {
        // No installation (or no options file): collect what is found
        // without the library, and ask it no more during this parse.
        FLibraryFailed = true;
        NoteError(e.Message());
        return {};
    }
    if (sAnswer.isEmpty())
        FNotFound.insert(sKey);
    return sAnswer;
}

bool TProjectDelphi::HasName(const QString &sName) const
{
    return FNames.contains(ItemName(sName).toCaseFolded());
}

void TProjectDelphi::AddParsedItem(const QString &sName, const QString &sPath)
{
    const QString sItemName = ItemName(sName);
    AddItem(sItemName + u'=' + sPath);
    FNames.insert(sItemName.toCaseFolded());
    FPaths.insert(sPath);
}

QString TProjectDelphi::CurrentFolder() const
{
    if (!FCurrentFile.startsWith(u'/'))
        return {};
    const qsizetype slash = FCurrentFile.lastIndexOf(u'/');
    return slash == 0 ? QStringLiteral("/") : FCurrentFile.left(slash);
}

void TProjectDelphi::NoteError(const QString &sText)
{
    if (FParseErrors.contains(sText))
        return;
    FParseErrors.append(sText);
    LogParseFailure(FTitle.isEmpty() ? sText : FTitle + QLatin1String(": ") + sText);
}

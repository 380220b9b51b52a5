#include "archive/archivebuilder.h"

#include "core/listfiles.h"
#include "core/peversion.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/winutils.h"
#include "diagnostics/diaglog.h"
#include "projects/project.h"
#include "projects/readme.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

const QString kWhere = QStringLiteral("TfrmGenerate");

// Facts counted longer ago than this are read again before zipping: the main
// window counts at start, maybe hours before the delivery.
constexpr qint64 kFreshFacts = 10000;

// sPath itself when it exists, else a file of its folder whose name differs
// only in letter case (programs built on Windows), else empty.
QString FindFileAnyCase(const QString &sPath)
{
    const QFileInfo info(sPath);
    if (info.isFile())
        return sPath;
    const QDir dir = info.dir();
    const QStringList lNames = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &sName : lNames) {
        if (sName.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return dir.filePath(sName);
    }
    return QString();
}

} // namespace

TArchiveBuilder::TArchiveBuilder(TProgressList &oProgress)
    : FProgress(oProgress)
{
    oZip.OnError = [this](int, const QString &sMessage) {
        if (OnAttendedError)
            OnAttendedError(sMessage);
    };
}

QString TArchiveBuilder::ArchiveComment()
{
    return QStringLiteral("Bundlewick version ") + AppVersion();
}

QString TArchiveBuilder::ProjectVersion(const TProject &oProject) const
{
    QString sResult;
    if (oProject.Kind() == pkDelphi && !oProject.ProjectFile().isEmpty()) {
        const QFileInfo info(oProject.ProjectFile());
        const QString sExe
            = FindFileAnyCase(info.dir().filePath(info.completeBaseName() + QStringLiteral(".exe")));
        if (!sExe.isEmpty()) {
            sResult = FileVersionText(sExe);
            const qsizetype iBlank = sResult.indexOf(QLatin1Char(' '));
            if (iBlank >= 0)
                sResult.truncate(iBlank);
        }
    }
    if (sResult.isEmpty())
        sResult = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return sResult;
}

QString TArchiveBuilder::ArchiveName(const TProject &oProject, const QString &sVersion)
{
    // The name becomes a file in a folder the user chose, on an FTP server
    // and in a mail header: it must stay one plain file name there.
    const auto Safe = [](const QString &s) {
        QString out;
        out.reserve(s.size());
        for (qsizetype i = 0; i < s.size(); ++i) {
            const QChar c = s.at(i);
            if (c == u' ')
                continue;
            const bool bad = c == u'/' || c.category() == QChar::Other_Control
                || (c.isSurrogate()
                    && !(c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()));
            if (bad) {
                out += u'_';
            } else {
                out += c;
                if (c.isHighSurrogate())
                    out += s.at(++i);
            }
        }
        return out;
    };
    QString sTitle = Safe(oProject.Title());
    const QString sTail = Safe(QLatin1Char('_') + sVersion + QStringLiteral(".zip"));
    // At most 200 bytes of UTF-8, cut between characters, from the title.
    constexpr qsizetype kMaxBytes = 200;
    const qsizetype iTailBytes = sTail.toUtf8().size();
    qsizetype iBytes = 0;
    qsizetype iKeep = 0;
    while (iKeep < sTitle.size()) {
        const qsizetype iLen = sTitle.at(iKeep).isHighSurrogate() ? 2 : 1;
        const qsizetype iCharBytes = QStringView(sTitle).mid(iKeep, iLen).toUtf8().size();
        if (iBytes + iCharBytes + iTailBytes > kMaxBytes)
            break;
        iBytes += iCharBytes;
        iKeep += iLen;
    }
    sTitle.truncate(iKeep);
    QString sName = sTitle + sTail;
    // A leading dot would hide the archive in the recipient's folder (and
    // "." or ".." are no file names at all).
    if (sName.startsWith(QLatin1Char('.')))
        sName[0] = u'_';
    if (sName.isEmpty())
        sName = QStringLiteral("_");
    return sName;
}

QString TArchiveNames::Claim(const QString &sDestination, const QString &sName)
{
    // Compared without case: FTP servers and mounted folders may ignore it.
    const auto Key = [&sDestination](const QString &sCandidate) {
        return (sDestination + QLatin1Char('\n') + sCandidate).toCaseFolded();
    };
    QString sResult = sName;
    const qsizetype iDot
        = sName.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive) ? sName.size() - 4 : sName.size();
    for (int i = 2; FUsed.contains(Key(sResult)); ++i)
        sResult = sName.left(iDot) + QLatin1Char('-') + QString::number(i) + sName.mid(iDot);
    FUsed.insert(Key(sResult));
    return sResult;
}

QString TArchiveBuilder::CommonRoot(const QList<TFileItem> &lItems)
{
    if (lItems.isEmpty())
        return QString();
    // The first path's folder, cut back at a "/" for every path outside it.
    const QString sFirst = lItems.first().Path();
    qsizetype iLen = sFirst.lastIndexOf(QLatin1Char('/')) + 1;
    for (const TFileItem &item : lItems) {
        const QString sPath = item.Path();
        while (iLen > 0 && !QStringView(sPath).startsWith(QStringView(sFirst).first(iLen)))
            iLen = QStringView(sFirst).first(iLen - 1).lastIndexOf(QLatin1Char('/')) + 1;
    }
    return sFirst.first(iLen);
}

QString TArchiveBuilder::BuildCodeZip(const TProject &oProject, QString &sRoot)
{
    const QString sCodeZip = RunTempDir() + QStringLiteral("code.zip");
    // A failed build must not leave the previous project's archive behind.
    QFile::remove(sCodeZip);

    const QList<TFileItem> &lItems = oProject.Items();
    sRoot = CommonRoot(lItems);

    oZip.Clear();
    oZip.SetZipFileName(sCodeZip);
    oZip.SetZipComment(ArchiveComment());
    oZip.ReserveItems(lItems.size());
    // What the count learned of each file goes along, so that the engine
    // opens every file once, to read it, and asks nothing else.
    const bool bFresh = oProject.FactsAge() <= kFreshFacts;
    // Each file under its path below the root; every path starts with it.
    // A collected item's text is its path, and its name is a view into it:
    // the project outlives the engine's items, and a tree of many files
    // needs no second string per file. Parsed items ("name=path") are few
    // and get names of their own.
    for (const TFileItem &item : lItems) {
        const QString sPath = item.Path();
        QString sEntry = sPath;
        if (sPath.startsWith(sRoot)) {
            sEntry = item.iFileID != 0 ? QString::fromRawData(item.sText.constData() + sRoot.size(),
                                                              item.sText.size() - sRoot.size())
                                       : sPath.mid(sRoot.size());
        }
        const TFileFacts oFacts = bFresh ? item.oFacts : FileFacts(sPath);
        if (oFacts.Known())
            oZip.AddListedItem(sPath, sEntry, oFacts);
        else
            oZip.AddItem(sPath, sEntry);
    }

#if defined(__GLIBC__)
    // Collecting a large tree freed much on the listing threads' heaps, which
    // the allocator keeps; the archive's work must not come on top of it.
    malloc_trim(0);
#endif
    oZip.OnSkipped = [this](const QString &sPath) {
        const QString sShown = ReadableFileName(sPath);
        FProgress.AddProgressFmt(QStringLiteral("!  Missing file skipped: %s"), { sShown });
        if (DiagLog)
            DiagLog->LogFmt(kWhere, QStringLiteral("Missing file skipped: %s"), { sShown }, lwError);
    };
    const QString sRaised = RunAdd();
    oZip.OnSkipped = nullptr;

    if (!sRaised.isEmpty())
        ZipFailed(sRaised);
    if (oZip.ErrorCode() != TZipEngine::ZipOk)
        ZipFailed(oZip.ErrorMessage());
    FProgress.AddProgressFmt(QStringLiteral("  Zipped %s"),
                             { Plural(QStringLiteral("file"), oProject.FileCount()) });
    return sCodeZip;
}

QString TArchiveBuilder::WriteReadMe(const TProject &oProject, const QString &sRoot, const QString &sVersion)
{
    QString sText;
    if (oProject.Kind() == pkGeneric)
        sText = TReadMeGeneric::Execute(oProject, sRoot, sVersion);
    else if (oProject.Kind() == pkDelphi)
        sText = TReadMeDelphi::Execute(oProject, sRoot, sVersion);
    const QString sManifest = RunTempDir() + QStringLiteral("readme.htm");
    SaveReadMe(sText, sManifest);
    return sManifest;
}

QString TArchiveBuilder::BuildDeliveryZip(const QString &sManifest, const QString &sPassword,
                                          const QString &sCodeZip, TZipEncryption eEncryption)
{
    // Names are per millisecond: never hand out the archive of an earlier task again.
    QString sDelivery = TempFileName(QStringLiteral(".zip"));
    while (QFileInfo::exists(sDelivery))
        sDelivery = TempFileName(QStringLiteral(".zip"));

    oZip.Clear();
    oZip.SetZipFileName(sDelivery);
    oZip.SetZipComment(ArchiveComment());
    oZip.AddItem(sCodeZip, QStringLiteral("code.zip"), sPassword, eEncryption);
    oZip.AddItem(sManifest, QStringLiteral("readme.htm"));

    // The engine would leave out a missing part and still succeed; an archive
    // without its code or manifest must not be delivered as if complete.
    QStringList lMissing;
    oZip.OnSkipped = [&lMissing](const QString &sPath) { lMissing << sPath; };
    const QString sRaised = RunAdd();
    oZip.OnSkipped = nullptr;

    if (!sRaised.isEmpty())
        ZipFailed(sRaised);
    if (oZip.ErrorCode() != TZipEngine::ZipOk)
        ZipFailed(oZip.ErrorMessage());
    if (!lMissing.isEmpty()) {
        QFile::remove(sDelivery);
        const QString sMessage = QStringLiteral("Missing file: %1").arg(ReadableFileName(lMissing.first()));
        if (OnAttendedError)
            OnAttendedError(sMessage);
        ZipFailed(sMessage);
    }
    return sDelivery;
}

QString TArchiveBuilder::RunAdd()
{
    try {
        oZip.Add();
    } catch (const std::exception &e) {
        const QString sMessage = QString::fromUtf8(e.what());
        return sMessage.isEmpty() ? QStringLiteral("Unknown error") : sMessage;
    }
    return QString();
}

void TArchiveBuilder::ZipFailed(const QString &sMessage)
{
    if (DiagLog)
        DiagLog->LogFmt(kWhere, QStringLiteral("GenerateZip error: %s"), { sMessage }, lwError);
    throw EZipError(sMessage);
}

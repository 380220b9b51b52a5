#include "delivery/errorreport.h"

#include "archive/zipengine.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/regutils.h"
#include "core/runtempdir.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "diagnostics/diaglog.h"
#include "network/ftpclient.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <memory>

namespace {

const QString kCRLF = QStringLiteral("\r\n");

void LogError(const QString &sWhere, const QString &sFormat, const QString &sText)
{
    if (DiagLog)
        DiagLog->LogFmt(sWhere, sFormat, { sText }, lwError);
}

// "symbol+0x1f" in a backtrace_symbols line, demangled.
QString DemangledFrame(const char *sFrame)
{
    QString sLine = QString::fromLocal8Bit(sFrame);
    const qsizetype open = sLine.indexOf(QLatin1Char('('));
    const qsizetype plus = sLine.indexOf(QLatin1Char('+'), open + 1);
    if (open < 0 || plus <= open + 1)
        return sLine;
    const QByteArray mangled = sLine.mid(open + 1, plus - open - 1).toLocal8Bit();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status), &std::free);
    if (status != 0 || !demangled)
        return sLine;
    return sLine.left(open + 1) + QString::fromLocal8Bit(demangled.get()) + sLine.mid(plus);
}

// The version and the program file's time, as both reports give them.
QString VersionLine()
{
    return QStringLiteral("Bundlewick version %1 compiled %2")
        .arg(AppVersion(), ReportTimeText(QFileInfo(QCoreApplication::applicationFilePath()).lastModified()));
}

bool WritePrivateText(const QString &sFile, const QString &sText)
{
    QSaveFile file(sFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(sText.toUtf8());
    return file.commit();
}

} // namespace

QString DataReportFile()
{
    return AppDataDir + QStringLiteral("data.zip");
}

QString BugReportFile()
{
    return AppDataDir + QStringLiteral("BugReport.zip");
}

QString ReportTimeText(const QDateTime &when)
{
    const QLocale c = QLocale::c();
    const QTime time = when.time();
    const int iHour = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1.%2%3 %4")
        .arg(iHour)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.hour() < 12 ? QStringLiteral("am") : QStringLiteral("pm"))
        .arg(c.toString(when.date(), QStringLiteral("dddd d MMMM yyyy")));
}

QString DataReportText(const QString &sNotes, const QString &sVersion, const QDateTime &compiled,
                       const QString &sParamList)
{
    QStringList pieces;
    if (!sNotes.trimmed().isEmpty()) {
        // The memo's line feeds become the file's CR LF.
        QString sTyped = sNotes;
        sTyped.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        sTyped.replace(QLatin1Char('\n'), kCRLF);
        pieces << QStringLiteral("USER NOTES\r\n") + sTyped;
    }
    pieces << QStringLiteral("\r\n\r\n\r\n\r\nVERSION\r\nBundlewick version %1 compiled %2\r\n\r\n")
                  .arg(sVersion, ReportTimeText(compiled));
    pieces << QStringLiteral("\r\n\r\n\r\n\r\nREGISTRY");
    const QStringList lines = sParamList.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    for (const QString &sLine : lines) {
        // Window positions and the main window's tab say nothing about the error.
        if (sLine.isEmpty() || sLine.startsWith(QLatin1String("frm"))
            || sLine.startsWith(QLatin1String("Main Tab")))
            continue;
        pieces << sLine;
    }
    return pieces.join(kCRLF) + kCRLF;
}

QString BugReportRemoteName(const QString &sVersion, const QString &sUser, const QDateTime &now)
{
    QString sShort = sVersion.section(QLatin1Char(' '), 0, 0);
    sShort.replace(QLatin1Char('.'), QLatin1Char('-'));
    QString sLabel;
    for (const QChar ch : sUser) {
        if (!QStringLiteral(" '\\/:*?\"<>|").contains(ch))
            sLabel += ch;
    }
    return QStringLiteral("Bug_%1_%2_%3.zip")
        .arg(sShort, sLabel, now.toString(QStringLiteral("yyyyMMdd-hhmmss")));
}

QString StackTraceText()
{
    void *frames[64];
    const int iCount = backtrace(frames, 64);
    std::unique_ptr<char *, decltype(&std::free)> symbols(backtrace_symbols(frames, iCount), &std::free);
    QStringList lines;
    // Frame 0 is this function.
    for (int i = 1; i < iCount; ++i)
        lines << (symbols ? DemangledFrame(symbols.get()[i]) : QString::number(quintptr(frames[i]), 16));
    return lines.join(QLatin1Char('\n'));
}

bool SaveBugReport(const QString &sError, const QString &sStackTrace)
{
    if (AppDataDir.isEmpty())
        return false;
    const QString sText
        = QStringLiteral("ERROR\r\n%1\r\n\r\nVERSION\r\n%2\r\n\r\nSTACK\r\n%3\r\n")
              .arg(sError, VersionLine(), QString(sStackTrace).replace(QLatin1Char('\n'), kCRLF));
    const QString sTextFile = AppDataDir + QStringLiteral("BugReport.txt");
    bool bSaved = false;
    if (WritePrivateText(sTextFile, sText)) {
        TZipEngine zip;
        zip.SetZipFileName(BugReportFile());
        zip.AddItem(sTextFile, QStringLiteral("BugReport.txt"));
        bSaved = zip.Add() == TZipEngine::ZipOk;
        if (!bSaved)
            LogError(QStringLiteral("TReportSender"),
                     QStringLiteral("Exception in SaveBugReport: Message=%s"), zip.ErrorMessage());
        MakePrivateFile(BugReportFile());
    }
    QFile::remove(sTextFile);
    return bSaved;
}

TReportSender::~TReportSender()
{
    WaitForUpload();
}

void TReportSender::Execute(bool bSave, bool bSend, TZipEngine &oZip, const QString &sMessage)
{
    if (bSave)
        SaveReport(oZip, sMessage);
    if (bSend)
        StartUpload();
}

bool TReportSender::SaveReport(TZipEngine &oZip, const QString &sMessage)
{
    if (AppDataDir.isEmpty())
        return false;
    const QString sZip = DataReportFile();
    const QString sText = AppDataDir + QStringLiteral("data.txt");
    const QString sCurrent = AppDataDir + QStringLiteral("current.sqlite");
    QFile::remove(sZip);
    QFile::remove(sText);
    bool bSaved = false;
    try {
        const QString sParams = Params ? Params->ListData() : QString();
        const QDateTime compiled = QFileInfo(QCoreApplication::applicationFilePath()).lastModified();
        if (!WritePrivateText(sText, DataReportText(sMessage, AppVersion(), compiled, sParams)))
            throw EOSError(QStringLiteral("Cannot write \"%1\"").arg(sText));
        oZip.Clear();
        oZip.SetZipFileName(sZip);
        oZip.SetZipComment(QStringLiteral("Bundlewick data report"));
        oZip.AddItem(AppDataDir + QStringLiteral("bundlewick.sqlite"), QStringLiteral("bundlewick.sqlite"));
        oZip.AddItem(sText, QStringLiteral("data.txt"));
        if (QFile::exists(sCurrent))
            oZip.AddItem(sCurrent, QStringLiteral("current.sqlite"));
        if (oZip.Add() != TZipEngine::ZipOk)
            throw EOSError(oZip.ErrorMessage());
        // It holds passwords in clear text: for this user's eyes only.
        MakePrivateFile(sZip);
        bSaved = true;
    } catch (...) {
        LogError(QStringLiteral("TReportSender"), QStringLiteral("Exception in SaveReport: Message=%s"),
                 ::ExceptionText(std::current_exception()));
    }
    QFile::remove(sText);
    return bSaved;
}

bool TReportSender::UploadConfigured()
{
    return !Param::ReportServer.Get().trimmed().isEmpty();
}

bool TReportSender::StartUpload()
{
    if (FThread.joinable() || !UploadConfigured() || !QFile::exists(BugReportFile()))
        return false;
    // Everything the thread needs is read here: the parameter store belongs
    // to the user-interface thread.
    const QString sServer = Param::ReportServer.Get().trimmed();
    const QString sLogin = Param::ReportLogin.Get();
    const QString sPassword = Param::ReportPassword.Get();
    const QString sFile = BugReportFile();
    const QString sRemote
        = BugReportRemoteName(AppVersion(), CurrentUserName(), QDateTime::currentDateTime());
    FDelivered = false;
    FThread = std::thread([this, sServer, sLogin, sPassword, sFile, sRemote] {
        const QString sWhere = QStringLiteral("TSenderThread");
        try {
            if (!QFile::exists(sFile))
                return;
            TFTPClient ftp;
            ftp.Host = sServer;
            ftp.Username = sLogin;
            ftp.Password = sPassword;
            if (ftp.Put(sFile, sRemote)) {
                QFile::remove(sFile);
                FDelivered = true;
            } else {
                LogError(sWhere, QStringLiteral("FTPError: %s"), ftp.ErrorText());
            }
        } catch (...) {
            LogError(sWhere, QStringLiteral("FTPError: %s"), ::ExceptionText(std::current_exception()));
        }
    });
    return true;
}

bool TReportSender::WaitForUpload()
{
    if (!FThread.joinable())
        return false;
    FThread.join();
    return FDelivered;
}

void ReportZip(const QString &sMessage)
{
    const bool bWasOpen = DB != nullptr;
    const QString sDatabase = AppDataDir + QStringLiteral("bundlewick.sqlite");
    delete DB;
    DB = nullptr;
    static TZipEngine FZip;
    TReportSender sender;
    sender.Execute(true, false, FZip, sMessage);
    if (bWasOpen) {
        try {
            DB = new TSQLiteDatabase(sDatabase);
        } catch (...) {
            LogError(QStringLiteral("TFData"), QStringLiteral("ReportZip: %s"),
                     ::ExceptionText(std::current_exception()));
        }
    }
}

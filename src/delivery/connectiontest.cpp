#include "delivery/connectiontest.h"

#include "core/exceptions.h"
#include "core/productinfo.h"
#include "core/textfiles.h"
#include "core/winutils.h"
#include "delivery/channels.h"
#include "delivery/s3test.h"
#include "diagnostics/diaglog.h"
#include "network/ftpclient.h"
#include "network/httpclient.h"

#include <QFileInfo>

// --- TSendMailJob ---------------------------------------------------------

TSendMailJob::TSendMailJob(const TSMTPSettings &oSMTP, const QString &sRecipient, QObject *parent)
    : TJob(parent)
    , FSMTP(oSMTP)
    , FRecipient(sRecipient)
{ }

TSendMailJob::~TSendMailJob()
{
    Stop();
}

QString TSendMailJob::TestSubject()
{
    return QStringLiteral("Bundlewick test");
}

QString TSendMailJob::TestBody()
{
    return QStringLiteral("This is a test email message from Bundlewick. Your email settings are correctly "
                          "configured.\r\n\r\nBundlewick")
        + (ProductWebSite.isEmpty() ? QString() : QStringLiteral(" :: ") + QString(ProductWebSite))
        + QStringLiteral("\r\n");
}

QString TSendMailJob::TestSuccessText(const QString &sRecipient)
{
    return QStringLiteral("Your test message has been sent successfully. Please check the inbox for ")
        + sRecipient + QLatin1Char('.');
}

QString TSendMailJob::TestFailureText(const QString &sRecipient, const QString &sError)
{
    return QStringLiteral("There was an error sending your test email message to ") + sRecipient
        + QStringLiteral(".\r\n\r\n") + sError;
}

void TSendMailJob::Execute()
{
    TSMTPClient oSMTP;
    FSMTP.ApplyTo(oSMTP);
    oSMTP.SetCancelFlag(&CancelFlag());
    oSMTP.To = FRecipient.trimmed();
    // One recipient, whatever separators the typed text holds.
    oSMTP.Recipients = oSMTP.To.isEmpty() ? QStringList() : QStringList { oSMTP.To };
    oSMTP.Subject = Subject;
    oSMTP.Body = Body;
    oSMTP.Attachments = Attachments;
    FThreadSuccess = oSMTP.Send();
    FThreadError = FThreadSuccess ? QString() : oSMTP.ErrorText();
    if (FThreadError.isEmpty() && !FThreadSuccess)
        FThreadError = QStringLiteral("The message could not be sent");
}

void TSendMailJob::Completed()
{
    FSuccess = FThreadSuccess && ErrorText().isEmpty();
    FSMTPError = FSuccess ? QString() : (ErrorText().isEmpty() ? FThreadError : ErrorText());
    if (!FSuccess && !DiagWhere.isEmpty() && DiagLog)
        DiagLog->LogFmt(DiagWhere, QStringLiteral("oSMTPRequestDone error: %s"), { FSMTPError }, lwError);
}

// --- TFTPTestJob ----------------------------------------------------------

TFTPTestJob::TFTPTestJob(const TStagingSettings &oStaging, QObject *parent)
    : TJob(parent)
    , FStaging(oStaging)
    , FVersion(AppVersion())
{ }

TFTPTestJob::~TFTPTestJob()
{
    Stop();
}

QString TFTPTestJob::TestFileText()
{
    return QStringLiteral("This is an FTP test file created by Bundlewick version %1").arg(AppVersion());
}

QString TFTPTestJob::RemoteName() const
{
    return QFileInfo(FFileOne).fileName();
}

QString TFTPTestJob::DownloadAddress() const
{
    return JoinPath(FStaging.HttpPath, RemoteName());
}

void TFTPTestJob::Line(const QString &sText, bool bProgress)
{
    Post([this, line = TTestLine { sText, bProgress }] { AddLine(line); });
}

void TFTPTestJob::AddLine(const TTestLine &line)
{
    if (line.bProgress && !FLines.isEmpty() && FLines.last().bProgress) {
        FLines.last() = line;
        Q_EMIT lineChanged(int(FLines.size()) - 1);
        return;
    }
    FLines.append(line);
    Q_EMIT lineAppended(int(FLines.size()) - 1);
}

void TFTPTestJob::FTPProgress(qint64 iBytes)
{
    const std::uint32_t iTick = TickCount();
    if (iTick > FFTPProgress) {
        FFTPProgress = iTick + 1000;
        Line(QStringLiteral("FTP progress: %1").arg(iBytes), true);
    }
}

void TFTPTestJob::Execute()
{
    FThreadSuccess = Steps();
}

bool TFTPTestJob::Steps()
{
    // 1. The test file, named by the time.
    try {
        FFileOne = TempFileName(QStringLiteral(".txt"));
        SaveTextFile(
            QStringLiteral("This is an FTP test file created by Bundlewick version %1\r\n").arg(FVersion),
            FFileOne);
    } catch (...) {
        Line(QStringLiteral("!Unable to create test file"));
        Line(QStringLiteral("    ") + ExceptionText(std::current_exception()));
        return false;
    }
    Line(QStringLiteral("Test file created"));
    if (AbortRequested())
        return false;

    FFileTwo = TempFileName(QStringLiteral(".txt"));
    if (FFileTwo == FFileOne)
        FFileTwo = TempFileName(QStringLiteral("-http.txt"));
    if (FStaging.Kind == TStagingKind::S3) {
        TS3TestHooks hooks;
        hooks.Line = [this](const QString &sText, bool bProgress) { Line(sText, bProgress); };
        hooks.AbortRequested = [this] { return AbortRequested(); };
        hooks.Cancel = &CancelFlag();
        return RunS3RoundTrip(FStaging.S3, FStaging.Retention, FFileOne, FFileTwo, hooks);
    }

    // 2. Upload.
    TFTPClient oFTP;
    FStaging.FTP.ApplyTo(oFTP);
    oFTP.SetTimeout(15);
    oFTP.SetCancelFlag(&CancelFlag());
    QObject::connect(&oFTP, &TNetClient::progress, [this](qint64 iBytes) { FTPProgress(iBytes); });
    const QString sRemote = RemoteName();
    if (!oFTP.Put(FFileOne, sRemote)) {
        FThreadHostKey = oFTP.HostKeyProblem();
        Line(QStringLiteral("!Unable to upload test file"));
        Line(QStringLiteral("    ") + oFTP.ErrorText());
        return false;
    }
    Line(QStringLiteral("Test file uploaded successfully"));
    if (AbortRequested())
        return false;

    // 3. Download over HTTP into the second file (its name comes from the
    // clock: it was made not to be the first).
    THTTPClient oHTTP;
    oHTTP.SetTimeout(30);
    oHTTP.SetCancelFlag(&CancelFlag());
    if (!oHTTP.GetFile(DownloadAddress(), FFileTwo)) {
        Line(QStringLiteral("!Failed to download test file with HTTP"));
        Line(QStringLiteral("    ") + oHTTP.ErrorText());
        return false;
    }
    Line(QStringLiteral("Test file successfully downloaded with HTTP"));
    if (AbortRequested())
        return false;

    // 4. Compare the texts.
    bool bSame = false;
    try {
        bSame = LoadTextFile(FFileOne) == LoadTextFile(FFileTwo);
    } catch (...) {
        bSame = false;
    }
    if (!bSame) {
        // The upload stays on the server so that the user can look at it.
        Line(QStringLiteral("!Uploaded and downloaded files do not match"));
        Line(QStringLiteral("    The test file stays on the server for inspection: %1")
                 .arg(DownloadAddress()));
        return false;
    }
    Line(QStringLiteral("Uploaded and downloaded files match"));
    if (AbortRequested())
        return false;

    // 5. Remove the upload.
    if (!oFTP.Delete(sRemote)) {
        Line(QStringLiteral("!Test file couldn't be deleted from the server"));
        Line(QStringLiteral("    ") + oFTP.ErrorText());
        return false;
    }
    Line(QStringLiteral("Test file deleted from server"));
    return true;
}

void TFTPTestJob::Completed()
{
    FSuccess = FThreadSuccess && ErrorText().isEmpty();
    FHostKey = FSuccess ? TSshHostKey() : FThreadHostKey;
}

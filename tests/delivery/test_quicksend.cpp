#include "core/daycount.h"
#include "core/progress.h"
#include "core/runtempdir.h"
#include "core/threaddb.h"
#include "core/winutils.h"
#include "delivery/quicksend.h"
#include "deliverydb.h"
#include "support/dblock.h"
#include "support/servers.h"
#include "support/zipreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <zip.h>

namespace {

const QString kUser = QStringLiteral("uploader");
const QString kPass = QStringLiteral("pa'ss");

class QuickSendTest : public DeliveryDB
{
protected:
    TProgressList progress;

    QStringList lines() const
    {
        QStringList out;
        for (const TProgressLine &line : progress.Lines())
            out << line.sText;
        return out;
    }
    std::string joined() const { return lines().join(QLatin1Char('|')).toStdString(); }

    void smtpSettings(quint16 port)
    {
        setting(QStringLiteral("Email server"), QStringLiteral("127.0.0.1"));
        setting(QStringLiteral("Email port"), QString::number(port));
        setting(QStringLiteral("Email login"), QStringLiteral("1"));
        setting(QStringLiteral("Email username"), QStringLiteral("mailer"));
        setting(QStringLiteral("Email password"), QStringLiteral("s3cret"));
        setting(QStringLiteral("Email from"), QStringLiteral("me@example.com"));
    }
    void stagingSettings(const QString &sHost)
    {
        setting(QStringLiteral("FTP host"), sHost);
        setting(QStringLiteral("FTP directory"), QStringLiteral("staging"));
        setting(QStringLiteral("FTP login"), kUser);
        setting(QStringLiteral("FTP password"), kPass);
        setting(QStringLiteral("FTP http path"), QStringLiteral("https://dl.example.com/q"));
    }
    // A send row with parameters, as the send editor or an earlier quick send left it.
    int sendRow(int iProject, int iKind, const QString &sPassword,
                const QList<std::pair<QString, QString>> &params)
    {
        db->ExecSQLFmt(
            QStringLiteral("INSERT INTO send (id_projects, type, zippassword) VALUES (%d, %d, '%s')"),
            { iProject, iKind, SQLEscape(sPassword) });
        const int id = int(db->LastInsertRowID());
        for (const auto &[sName, sValue] : params)
            param(id, sName, sValue);
        return id;
    }
    // The log rows as "success|source|filename|files|method|destination".
    QStringList logRows()
    {
        auto table = db->GetTable(QStringLiteral(
            "SELECT success, source, filename, files, method, destination FROM log ORDER BY id"));
        QStringList out;
        for (; !table->Eof(); table->Next())
            out << QStringLiteral("%1|%2|%3|%4|%5|%6")
                       .arg(table->FieldAsInteger(0))
                       .arg(table->FieldAsInteger(1))
                       .arg(table->FieldAsString(2))
                       .arg(table->FieldAsInteger(3))
                       .arg(table->FieldAsInteger(4))
                       .arg(table->FieldAsString(5));
        return out;
    }
    // "name=content" of every entry of the archive inside the archive.
    QStringList innerEntries(const QString &sOuter, const QString &sPassword)
    {
        bwtest::ZipReader outer(sOuter);
        const std::optional<QByteArray> inner = outer.read(QStringLiteral("files.zip"), sPassword);
        if (!inner)
            return { QStringLiteral("<unreadable>") };
        const QString sInner = sandbox.writeFile(QStringLiteral("check/files.zip"), *inner);
        bwtest::ZipReader reader(sInner);
        QStringList out;
        for (const QString &name : reader.names())
            out << name + QLatin1Char('=') + QString::fromUtf8(reader.read(name).value_or("<unreadable>"));
        return out;
    }
    TQuickSendOrder order(const QStringList &files, int iPage)
    {
        TQuickSendOrder o;
        o.Files = files;
        o.Page = iPage;
        o.ZipName = QStringLiteral("My drop é");
        o.Subject = QStringLiteral("A file for you");
        o.Message = QStringLiteral("Here's a file for you.\r\n");
        return o;
    }
};

QByteArray attachmentNamed(const QByteArray &message, const QByteArray &sName)
{
    const qsizetype at = message.indexOf("filename=\"" + sName + "\"");
    if (at < 0)
        return "<none>";
    const qsizetype start = message.indexOf("\r\n\r\n", at) + 4;
    const qsizetype end = message.indexOf("\r\n--", start);
    return QByteArray::fromBase64(message.mid(start, end - start));
}

} // namespace

TEST_F(QuickSendTest, NamesAreCleanedAndSameNamedFilesNumbered)
{
    EXPECT_EQ(QuickSend::CleanName(QStringLiteral("My drop é 2/3'x.zip")),
              QStringLiteral("My_drop___2_3_x.zip"));
    EXPECT_EQ(QuickSend::CleanName(QStringLiteral("a-b_c.9")), QStringLiteral("a-b_c.9"));
    EXPECT_EQ(QuickSend::DisplayName(QStringLiteral("/home/ann/src/main.cpp")), QStringLiteral("main.cpp"));

    const QStringList names = QuickSend::EntryNames(
        { QStringLiteral("/a/notes.txt"), QStringLiteral("/b/notes.txt"), QStringLiteral("/c/NOTES.txt"),
          QStringLiteral("/a/notes.txt"), QStringLiteral("/d/notes (2).txt"), QStringLiteral("/e/.profile"),
          QStringLiteral("/f/.profile"), QStringLiteral("/g/README") });
    EXPECT_EQ(names,
              (QStringList { QStringLiteral("notes.txt"), QStringLiteral("notes (2).txt"),
                             QStringLiteral("NOTES (3).txt"), QStringLiteral("notes.txt"),
                             QStringLiteral("notes (2) (2).txt"), QStringLiteral(".profile"),
                             QStringLiteral(".profile (2)"), QStringLiteral("README") }));
}

TEST_F(QuickSendTest, ReadinessFollowsThePageAndRequiresANameAndAHost)
{
    const QString file = sandbox.writeFile(QStringLiteral("in/a.txt"), "a");
    TQuickSendOrder o = order({ file }, skFTP);

    // The FTP page needs a host typed on the page, whatever the settings say.
    setting(QStringLiteral("FTP host"), QStringLiteral("staging.example.com"));
    EXPECT_FALSE(QuickSend::Ready(o, false));
    o.FTPHost = QStringLiteral("   ");
    EXPECT_FALSE(QuickSend::Ready(o, false));
    o.FTPHost = QStringLiteral("ftp.example.com");
    EXPECT_TRUE(QuickSend::Ready(o, false));

    // One file sent as itself needs no archive name; an archive does.
    o.ZipName.clear();
    EXPECT_TRUE(QuickSend::Ready(o, false));
    o.Zip = true;
    EXPECT_FALSE(QuickSend::Ready(o, false));
    o.Zip = false;
    o.Files << file;
    EXPECT_FALSE(QuickSend::Ready(o, false));
    o.ZipName = QStringLiteral("drop");
    EXPECT_TRUE(QuickSend::Ready(o, false));
    o.Files.clear();
    EXPECT_FALSE(QuickSend::Ready(o, false));

    o = order({ file }, skFile);
    o.Folder = sandbox.path(QStringLiteral("missing"));
    EXPECT_FALSE(QuickSend::Ready(o, false));
    o.Folder = sandbox.path(QStringLiteral("in"));
    EXPECT_TRUE(QuickSend::Ready(o, false));

    o = order({ file }, skEmail);
    o.Recipient = QStringLiteral("ann@example.com");
    EXPECT_FALSE(QuickSend::Ready(o, false)); // no SMTP settings
    smtpSettings(25);
    EXPECT_TRUE(QuickSend::Ready(o, false));
    o.Recipient = QStringLiteral("Ann's box");
    EXPECT_FALSE(QuickSend::Ready(o, false));
    EXPECT_TRUE(QuickSend::Ready(o, true)); // a picked suggestion
    o.Subject.clear();
    EXPECT_FALSE(QuickSend::Ready(o, true));
}

TEST_F(QuickSendTest, SuggestionsAreDistinctAndPicksFillWhatTheEntryRemembers)
{
    const int iTask = sendRow(4, skEmail, QStringLiteral("pw1"),
                              { { QStringLiteral("EmailRecipient"), QStringLiteral("ann@example.com") },
                                { QStringLiteral("EmailFTP"), QStringLiteral("1") },
                                { QStringLiteral("EmailRetention"), QStringLiteral("3") } });
    sendRow(0, skEmail, QString(),
            { { QStringLiteral("EmailRecipient"), QStringLiteral(" ANN@example.com ") } });
    const int iQuote = sendRow(0, skEmail, QStringLiteral("o'k"),
                               { { QStringLiteral("EmailRecipient"), QStringLiteral("o'brien@example.com") },
                                 { QStringLiteral("EmailRetention"), QStringLiteral("soon") } });
    sendRow(0, skEmail, QString(),
            { { QStringLiteral("EmailRecipient"), QStringLiteral("annXexample.org") } });
    const int iHost = sendRow(0, skFTP, QStringLiteral("zip"),
                              { { QStringLiteral("FTPHost"), QStringLiteral("ftp.example.com") },
                                { QStringLiteral("FTPDirectory"), QStringLiteral("in") },
                                { QStringLiteral("FTPLogin"), QStringLiteral("bob") },
                                { QStringLiteral("FTPPassword"), QStringLiteral("b'pw") } });

    EXPECT_EQ(QuickSend::Suggestions(QStringLiteral("EmailRecipient"), QStringLiteral("ann")),
              (QList<TQuickSuggestion> { { QStringLiteral("ann@example.com"), iTask },
                                         { QStringLiteral("annXexample.org"), iTask + 3 } }));
    // "_" is no wildcard here.
    EXPECT_TRUE(QuickSend::Suggestions(QStringLiteral("EmailRecipient"), QStringLiteral("ann_")).isEmpty());
    EXPECT_EQ(QuickSend::Suggestions(QStringLiteral("EmailRecipient"), QStringLiteral("o'b")),
              (QList<TQuickSuggestion> { { QStringLiteral("o'brien@example.com"), iQuote } }));
    EXPECT_EQ(QuickSend::Suggestions(QStringLiteral("FTPHost"), QStringLiteral("EXAMPLE")),
              (QList<TQuickSuggestion> { { QStringLiteral("ftp.example.com"), iHost } }));

    const TQuickRecipientPick pick = QuickSend::PickRecipient(iTask);
    EXPECT_EQ(pick.ZipPassword, QStringLiteral("pw1"));
    EXPECT_TRUE(pick.UseStaging);
    EXPECT_EQ(pick.Retention, 3);
    const TQuickRecipientPick quote = QuickSend::PickRecipient(iQuote);
    EXPECT_EQ(quote.ZipPassword, QStringLiteral("o'k"));
    EXPECT_FALSE(quote.UseStaging);
    EXPECT_EQ(quote.Retention, 1);
    const TQuickHostPick host = QuickSend::PickHost(iHost);
    EXPECT_EQ(host.Directory, QStringLiteral("in"));
    EXPECT_EQ(host.Login, QStringLiteral("bob"));
    EXPECT_EQ(host.Password, QStringLiteral("b'pw"));
    EXPECT_EQ(host.ZipPassword, QStringLiteral("zip"));
}

TEST_F(QuickSendTest, AddressBookGetsOneEntryPerRecipientAndHost)
{
    TQuickSendOrder o = order({}, skEmail);
    o.Recipient = QStringLiteral("o'brien@example.com");
    o.ZipPassword = QStringLiteral("se'cret");
    EXPECT_TRUE(QuickSend::Remember(o));
    EXPECT_FALSE(QuickSend::Remember(o));
    o.Page = skFile;
    EXPECT_FALSE(QuickSend::Remember(o));
    o.Page = skFTP;
    o.FTPHost = QStringLiteral("ftp.example.com");
    o.FTPDirectory = QStringLiteral("in");
    o.FTPLogin = QStringLiteral("bob");
    o.FTPPassword = QStringLiteral("pw");
    EXPECT_TRUE(QuickSend::Remember(o));
    EXPECT_FALSE(QuickSend::Remember(o));

    auto send = db->GetTable(QStringLiteral("SELECT id_projects, type, zippassword FROM send ORDER BY id"));
    QStringList rows;
    for (; !send->Eof(); send->Next())
        rows << QStringLiteral("%1|%2|%3")
                    .arg(send->FieldAsInteger(0))
                    .arg(send->FieldAsInteger(1))
                    .arg(send->FieldAsString(2));
    EXPECT_EQ(rows, (QStringList { QStringLiteral("0|0|se'cret"), QStringLiteral("0|2|se'cret") }));
    auto params = db->GetTable(QStringLiteral("SELECT name, value FROM sendparams ORDER BY id"));
    QStringList values;
    for (; !params->Eof(); params->Next())
        values << params->FieldAsString(0) + QLatin1Char('=') + params->FieldAsString(1);
    EXPECT_EQ(values,
              (QStringList { QStringLiteral("EmailRecipient=o'brien@example.com"),
                             QStringLiteral("Zip encryption=traditional"),
                             QStringLiteral("FTPHost=ftp.example.com"), QStringLiteral("FTPDirectory=in"),
                             QStringLiteral("FTPLogin=bob"), QStringLiteral("FTPPassword=pw"),
                             QStringLiteral("Zip encryption=traditional") }));
}

// The archive's encryption travels with the order, is remembered with the
// recipient, and comes back when the recipient is picked again; entries and
// tasks stored before there was a choice pick the traditional scheme.
TEST_F(QuickSendTest, ZipEncryptionIsSentRememberedAndPicked)
{
    const QString file = sandbox.writeFile(QStringLiteral("src/plan.txt"), archiveBytes(100000));
    const QString out = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TQuickSendOrder o = order({ file }, skFile);
    o.Folder = out;
    o.Zip = true;
    o.ZipName = QStringLiteral("plan");
    o.ZipPassword = QStringLiteral("pw");
    o.ZipEncryption = TZipEncryption::Aes256;
    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << joined();
    }
    EXPECT_FALSE(lines().join(QLatin1Char('|')).contains(QStringLiteral("pw")));
    const QString delivered = out + QStringLiteral("/plan.zip");
    ASSERT_EQ(bwtest::ZipReader(delivered).entry(QStringLiteral("plan.txt"))->encryption, ZIP_EM_AES_256);
    const QString dir = sandbox.path(QStringLiteral("extracted"));
    QDir().mkpath(dir);
    QByteArray tool;
    EXPECT_EQ(bwtest::runProgram(QStringLiteral("/usr/bin/bsdtar"),
                                 { QStringLiteral("-x"), QStringLiteral("--passphrase"), QStringLiteral("pw"),
                                   QStringLiteral("-C"), dir, QStringLiteral("-f"), delivered },
                                 &tool),
              0)
        << tool.constData();
    EXPECT_EQ(readFile(dir + QStringLiteral("/plan.txt")), archiveBytes(100000));

    o.Page = skEmail;
    o.Recipient = QStringLiteral("eve@example.com");
    ASSERT_TRUE(QuickSend::Remember(o));
    o.Page = skFTP;
    o.FTPHost = QStringLiteral("ftp.example.net");
    ASSERT_TRUE(QuickSend::Remember(o));
    const QList<TQuickSuggestion> recipients
        = QuickSend::Suggestions(QStringLiteral("EmailRecipient"), QStringLiteral("eve"));
    ASSERT_EQ(recipients.size(), 1);
    EXPECT_EQ(QuickSend::PickRecipient(recipients.first().SendID).ZipEncryption, TZipEncryption::Aes256);
    const QList<TQuickSuggestion> hosts
        = QuickSend::Suggestions(QStringLiteral("FTPHost"), QStringLiteral("net"));
    ASSERT_EQ(hosts.size(), 1);
    EXPECT_EQ(QuickSend::PickHost(hosts.first().SendID).ZipEncryption, TZipEncryption::Aes256);

    const int iOld = sendRow(3, skEmail, QStringLiteral("old"),
                             { { QStringLiteral("EmailRecipient"), QStringLiteral("old@example.com") } });
    EXPECT_EQ(QuickSend::PickRecipient(iOld).ZipEncryption, TZipEncryption::Traditional);
}

TEST_F(QuickSendTest, TwoFilesGoAsFilesZipInsideTheCleanedNameAndSameNamesBothArrive)
{
    const QString a = sandbox.writeFile(QStringLiteral("one/notes.txt"), "first");
    const QString b = sandbox.writeFile(QStringLiteral("two/notes.txt"), "second");
    const QString c = sandbox.writeFile(QStringLiteral("two/main.cpp"), "int main() {}");
    const QString out = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TQuickSendOrder o = order({ a, b, c }, skFile);
    o.Folder = out;
    o.ZipPassword = QStringLiteral("pw");

    TQuickSender sender(o, progress);
    ASSERT_TRUE(sender.Run()) << joined();
    EXPECT_EQ(
        lines(),
        (QStringList { QStringLiteral("notes.txt added as notes (2).txt"), QStringLiteral("Zipped 3 files"),
                       QStringLiteral("Output saved to My_drop__.zip"),
                       QStringLiteral("Quick send successful") }));
    const QString delivered = out + QStringLiteral("/My_drop__.zip");
    bwtest::ZipReader reader(delivered);
    ASSERT_TRUE(reader.isOpen());
    ASSERT_EQ(reader.names(), QStringList { QStringLiteral("files.zip") });
    EXPECT_EQ(reader.entry(QStringLiteral("files.zip"))->compression, ZIP_CM_STORE);
    EXPECT_EQ(reader.entry(QStringLiteral("files.zip"))->encryption, ZIP_EM_TRAD_PKWARE);
    EXPECT_FALSE(reader.read(QStringLiteral("files.zip"), QStringLiteral("wrong")).has_value());
    EXPECT_EQ(innerEntries(delivered, QStringLiteral("pw")),
              (QStringList { QStringLiteral("notes.txt=first"), QStringLiteral("notes (2).txt=second"),
                             QStringLiteral("main.cpp=int main() {}") }));
    EXPECT_EQ(logRows(), QStringList { QStringLiteral("1|2|My_drop__.zip|3|1|") + out });
    // No working archive is left behind.
    EXPECT_EQ(QDir(RunTempDir()).entryList(QDir::Files), QStringList());
}

TEST_F(QuickSendTest, OneFileGoesAsItselfOrZippedByFtp)
{
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/in"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    const QString file = sandbox.writeFile(QStringLiteral("src/my report.txt"), archiveBytes(200000));
    TQuickSendOrder o = order({ file }, skFTP);
    o.FTPHost = ftp.host();
    o.FTPDirectory = QStringLiteral("in");
    o.FTPLogin = kUser;
    o.FTPPassword = kPass;

    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << joined();
    }
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent via FTP to ") + ftp.host(),
                             QStringLiteral("Quick send successful") }));
    EXPECT_EQ(readFile(home + QStringLiteral("/in/my_report.txt")), archiveBytes(200000));

    // Zipped: the file under its own name, encrypted with the password.
    progress.Clear();
    o.Zip = true;
    o.ZipName = QStringLiteral("report");
    o.ZipPassword = QStringLiteral("pw");
    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << joined();
    }
    bwtest::ZipReader reader(home + QStringLiteral("/in/report.zip"));
    ASSERT_EQ(reader.names(), QStringList { QStringLiteral("my report.txt") });
    EXPECT_EQ(reader.read(QStringLiteral("my report.txt"), QStringLiteral("pw")), archiveBytes(200000));
    EXPECT_EQ(logRows(),
              (QStringList { QStringLiteral("1|2|my_report.txt|1|2|") + ftp.host(),
                             QStringLiteral("1|2|report.zip|1|2|") + ftp.host() }));

    // A wrong password: the red line, and the failure is logged.
    progress.Clear();
    o.FTPPassword = QStringLiteral("nope");
    TQuickSender sender(o, progress);
    EXPECT_FALSE(sender.Run());
    ASSERT_EQ(lines().size(), 2) << joined();
    EXPECT_TRUE(lines().at(0).startsWith(QStringLiteral("!  FTP failed: "))) << joined();
    EXPECT_EQ(lines().at(1), QStringLiteral("!Quick send failed"));
    EXPECT_EQ(logRows().last(), QStringLiteral("0|2|report.zip|1|2|") + ftp.host());
    EXPECT_FALSE(lines().join(QString()).contains(QStringLiteral("nope")));
}

TEST_F(QuickSendTest, EmailAttachesTheFileOrLinksToTheStagingUpload)
{
    bwtest::SmtpServer smtp;
    smtpSettings(smtp.port());
    const QString file = sandbox.writeFile(QStringLiteral("src/data.bin"), archiveBytes(5000));
    TQuickSendOrder o = order({ file }, skEmail);
    o.Recipient = QStringLiteral("ann@example.com");
    o.Message = QStringLiteral("See {LINK}\r\n");
    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << joined();
    }
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Email sent to ann@example.com"),
                             QStringLiteral("Quick send successful") }));
    ASSERT_EQ(smtp.messages().size(), 1);
    const QByteArray mail = smtp.messages().at(0);
    EXPECT_TRUE(mail.contains("\r\nSubject: A file for you\r\n"));
    EXPECT_TRUE(mail.contains("See data.bin"));
    EXPECT_EQ(attachmentNamed(mail, "data.bin"), archiveBytes(5000));

    // Through the staging server: the link, no attachment, a retention row.
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer ftp(kUser, kPass, home);
    bwtest::HttpServer http(home + QStringLiteral("/staging"));
    stagingSettings(ftp.host());
    setting(QStringLiteral("FTP http path"), http.url(QString()));
    progress.Clear();
    o.UseStaging = true;
    o.Retention = 1;
    const double now = NowDays();
    {
        TQuickSender sender(o, progress);
        ASSERT_TRUE(sender.Run()) << joined();
    }
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("  Sent via FTP to ") + ftp.host(),
                             QStringLiteral("  Email sent to ann@example.com"),
                             QStringLiteral("Quick send successful") }));
    // A name of its own with a random part, so no later quick send replaces it.
    const QStringList staged = QDir(home + QStringLiteral("/staging")).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(staged.size(), 1);
    const QString sName = staged.first();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^data_[A-Za-z0-9]{16}\\.bin$")).match(sName).hasMatch())
        << sName.toStdString();
    EXPECT_EQ(readFile(home + QStringLiteral("/staging/") + sName), archiveBytes(5000));
    ASSERT_EQ(smtp.messages().size(), 2);
    EXPECT_TRUE(smtp.messages().at(1).contains("See " + http.url(sName).toUtf8()));
    EXPECT_FALSE(smtp.messages().at(1).contains("filename="));
    auto row = db->GetTable(QStringLiteral("SELECT expiry, filename, login FROM retention"));
    ASSERT_FALSE(row->Eof());
    EXPECT_NEAR(row->FieldAsDouble(0) - now, 7.0, 0.01);
    EXPECT_EQ(row->FieldAsString(1), sName);
    row.reset();
    EXPECT_EQ(logRows().last(), QStringLiteral("1|2|data.bin|1|0|ann@example.com"));

    // A download address that serves nothing: no e-mail with a dead link.
    setting(QStringLiteral("FTP http path"), http.url(QStringLiteral("elsewhere")));
    progress.Clear();
    {
        TQuickSender sender(o, progress);
        EXPECT_FALSE(sender.Run());
    }
    ASSERT_EQ(lines().size(), 3) << joined();
    EXPECT_TRUE(lines().at(1).startsWith(QStringLiteral("!  The download link does not work: 404 ")))
        << joined();
    EXPECT_EQ(lines().at(2), QStringLiteral("!Quick send failed"));
    EXPECT_EQ(smtp.messages().size(), 2);
}

TEST_F(QuickSendTest, EmailFailuresAreRedLines)
{
    bwtest::SmtpServer::Options options;
    options.refuse = QStringList { QStringLiteral("ann@example.com") };
    bwtest::SmtpServer smtp(options);
    smtpSettings(smtp.port());
    startDiag();
    const QString file = sandbox.writeFile(QStringLiteral("src/data.bin"), "x");
    TQuickSendOrder o = order({ file }, skEmail);
    o.Recipient = QStringLiteral("ann@example.com");
    {
        TQuickSender sender(o, progress);
        EXPECT_FALSE(sender.Run());
    }
    ASSERT_EQ(lines().size(), 2) << joined();
    EXPECT_TRUE(lines().at(0).startsWith(QStringLiteral("!  Email failed: 550"))) << joined();
    EXPECT_EQ(lines().at(1), QStringLiteral("!Quick send failed"));
    EXPECT_EQ(logRows(), QStringList { QStringLiteral("0|2|data.bin|1|0|ann@example.com") });

    // A staging server that refuses the login: no e-mail, and the failure
    // line starts with "!".
    const QString home = sandbox.path(QStringLiteral("ftphome"));
    QDir().mkpath(home + QStringLiteral("/staging"));
    bwtest::FtpServer ftp(kUser, QStringLiteral("other"), home);
    stagingSettings(ftp.host());
    progress.Clear();
    o.UseStaging = true;
    {
        TQuickSender sender(o, progress);
        EXPECT_FALSE(sender.Run());
    }
    ASSERT_EQ(lines().size(), 3) << joined();
    EXPECT_TRUE(lines().at(0).startsWith(QStringLiteral("!  FTP failed: "))) << joined();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^!Email failed: could not copy to data_[A-Za-z0-9]{16}\\.bin\\.$"))
            .match(lines().at(1))
            .hasMatch())
        << joined();
    EXPECT_EQ(smtp.messages().size(), 0);
    if (diag) {
        const QStringList events = diagEvents();
        EXPECT_EQ(
            events
                .filter(QRegularExpression(
                    QStringLiteral("^1\\|TfrmQuickSend\\|SendEmail error: could not copy ")
                    + QRegularExpression::escape(file)
                    + QStringLiteral(" to https://dl\\.example\\.com/q/data_[A-Za-z0-9]{16}\\.bin\\.$")))
                .size(),
            1)
            << events.join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(events.filter(QStringLiteral("SMTPRequestDone error: 550")).isEmpty());
        EXPECT_FALSE(events.join(QString()).contains(kPass));
    }
}

TEST_F(QuickSendTest, MissingFileFailsInsteadOfSendingLess)
{
    const QString a = sandbox.writeFile(QStringLiteral("in/a.txt"), "a");
    const QString out = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TQuickSendOrder o = order({ a, sandbox.path(QStringLiteral("in/gone.txt")) }, skFile);
    o.Folder = out;
    TQuickSender sender(o, progress);
    EXPECT_FALSE(sender.Run());
    EXPECT_EQ(
        lines(),
        (QStringList { QStringLiteral("!Error: Missing file: ") + sandbox.path(QStringLiteral("in/gone.txt")),
                       QStringLiteral("!Quick send failed") }));
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList());
}

TEST_F(QuickSendTest, JobReplaysItsLinesAndReportsTheOutcome)
{
    const QString a = sandbox.writeFile(QStringLiteral("in/a.txt"), "a");
    const QString out = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TQuickSendOrder o = order({ a }, skFile);
    o.Folder = out;
    TQuickSendJob job(o, progress);
    QSignalSpy finished(&job, &TQuickSendJob::finished);
    job.Run();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(job.Ended());
    EXPECT_EQ(finished.first().first().toBool(), true);
    EXPECT_TRUE(job.Success());
    EXPECT_EQ(
        lines(),
        (QStringList { QStringLiteral("Output saved to a.txt"), QStringLiteral("Quick send successful") }));
    EXPECT_EQ(readFile(out + QStringLiteral("/a.txt")), QByteArray("a"));
}

// Another program holds the database past the busy time-out when the quick
// send's log row is due: the row waits for the lock (and says so) instead of
// being lost after a file that arrived.
TEST_F(QuickSendTest, LogRowOutlastsAnotherProgramsLock)
{
    ShareConnection(*db, 200);
    const QString a = sandbox.writeFile(QStringLiteral("in/data.bin"), "data");
    const QString out = sandbox.path(QStringLiteral("out"));
    QDir().mkpath(out);
    TQuickSendOrder o = order({ a }, skFile);
    o.Folder = out;

    bwtest::DatabaseLock lock(sandbox.path(QStringLiteral("bundlewick.sqlite")));
    ASSERT_EQ(lock.error(), QString());
    const QString sWaiting = QStringLiteral("Waiting for the database, which another program is using\u2026");
    QObject::connect(&progress, &TProgressList::lineAppended, [&](int iIndex) {
        if (progress.Lines().at(iIndex).sText == sWaiting)
            lock.release();
    });
    TQuickSender sender(o, progress);
    ASSERT_TRUE(sender.Run()) << joined();
    EXPECT_EQ(lines(),
              (QStringList { QStringLiteral("Output saved to data.bin"),
                             QStringLiteral("Quick send successful"), sWaiting }));
    EXPECT_EQ(logRows(), QStringList { QStringLiteral("1|2|data.bin|1|1|") + out });
}

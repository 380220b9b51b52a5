#include "app/commandline.h"

#include "app/startup.h"
#include "core/exceptions.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/settingkeys.h"
#include "core/settings.h"
#include "core/sqlite.h"
#include "core/winutils.h"
#include "data/fdata.h"
#include "delivery/deliveryjob.h"
#include "delivery/deliveryrun.h"
#include "delivery/quicksend.h"
#include "delivery/retention.h"
#include "delivery/sendtasks.h"
#include "projects/project.h"
#include "projects/projectlist.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

const char kHelp[] = "Usage: bundlewick [COMMAND [OPTIONS] [TITLE...]]\n"
                     "\n"
                     "Without arguments the desktop program starts. With a command Bundlewick\n"
                     "runs without windows, on the same data as the desktop program.\n"
                     "\n"
                     "Commands:\n"
                     "  list                One line per project, in title order, fields separated\n"
                     "                      by a tab: TITLE, files, changed files, send tasks, e.g.\n"
                     "                        MyTool<TAB>12 files<TAB>3 changes<TAB>2 send tasks\n"
                     "  deliver             Zip and deliver the projects that have send tasks and\n"
                     "                      changed files (those the main window checks at start)\n"
                     "  deliver --all       Zip and deliver every project that has send tasks\n"
                     "  deliver TITLE...    Zip and deliver the named projects, in the order given\n"
                     "                      (titles are matched exactly, else ignoring case)\n"
                     "  send FILE...        Open quick send in the desktop program with these files\n"
                     "  send DESTINATION [SEND OPTIONS] FILE...\n"
                     "                      Quick send without windows, to one destination:\n"
                     "    --email ADDRESS     by e-mail (the SMTP settings of the desktop program)\n"
                     "    --folder DIR        copied into an existing folder\n"
                     "    --ftp HOST          uploaded to an FTP server (\"name[:port]\",\n"
                     "                        \"ftps://name\" or \"sftp://name\")\n"
                     "\n"
                     "Send options (each also as --OPTION=VALUE):\n"
                     "  --name NAME         Archive name, without \".zip\" (default: the time,\n"
                     "                      yyyyMMdd-HHmmss); several files always go into it\n"
                     "  --zip               Zip a single file too (it goes as itself otherwise)\n"
                     "  --password PASSWORD Password of the archive (other users can see the\n"
                     "                      arguments of a running program: prefer\n"
                     "                      --password-env)\n"
                     "  --password-env VAR  Take the archive password from environment variable VAR\n"
                     "  --encryption aes256|traditional\n"
                     "                      How the password protects the archive (default aes256;\n"
                     "                      traditional opens in Windows Explorer but is weak)\n"
                     "  --subject TEXT      E-mail subject (default \"A file for you\")\n"
                     "  --message TEXT      E-mail text (default \"Here's a file for you.\")\n"
                     "  --link              E-mail a link to an upload to your staging FTP server\n"
                     "                      instead of attaching the file\n"
                     "  --retention day|week|month|year|forever\n"
                     "                      How long the staging upload stays (default: Settings)\n"
                     "  --ftp-directory DIR, --ftp-login LOGIN, --ftp-password PASSWORD\n"
                     "                      The FTP server's folder and account; the password\n"
                     "                      also as --ftp-password-env VAR\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help          Show this help and exit\n"
                     "  -v, --version       Show the version and exit\n"
                     "  --                  Take the remaining arguments as titles\n"
                     "\n"
                     "\"deliver\" and \"send\" write the progress lines to standard output as the delivery\n"
                     "window holds them: a line beginning with \"!\" reports a failure, a line\n"
                     "holding one blank separates two projects, and every project ends with\n"
                     "\"  Success\" or \"!  Fail\". Transfer counters are shown on a terminal only.\n"
                     "\n"
                     "Exit status:\n"
                     "  0  done: every project delivered (or nothing to deliver)\n"
                     "  1  a project or the send failed, the run stopped at a project without\n"
                     "     files or send tasks, or an error occurred\n"
                     "  2  usage error: unknown command, option or project title, a missing\n"
                     "     file, or a send that lacks what it needs (such as the SMTP settings)\n"
                     "  3  Bundlewick is already running (the desktop program or a command)\n";

class EUsage : public Exception
{
    using Exception::Exception;
};

enum class TCommand { Help, Version, List, Deliver, Send, DesktopSend };

struct TArguments
{
    TCommand command = TCommand::Help;
    bool bAll = false;
    QStringList lTitles;
    // send: the order as the options give it, and the files (absolute).
    TQuickSendOrder order;
    bool bDestination = false;
};

void Write(FILE *stream, const QString &sText)
{
    const QByteArray bytes = sText.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Error(const QString &sText)
{
    Write(stderr, QStringLiteral("bundlewick: ") + sText + QLatin1Char('\n'));
}

// The value of "--name VALUE" or "--name=VALUE"; advances i past it.
QString OptionValue(const QStringList &lArgs, qsizetype &i, const QString &sName)
{
    const QString &sArg = lArgs.at(i);
    if (sArg.size() > sName.size() && sArg.at(sName.size()) == QLatin1Char('='))
        return sArg.mid(sName.size() + 1);
    if (i + 1 >= lArgs.size())
        throw EUsage(QStringLiteral("option '%1' needs a value").arg(sName));
    return lArgs.at(++i);
}

QString EnvironmentValue(const QString &sVariable, const QString &sOption)
{
    const QByteArray name = sVariable.toLocal8Bit();
    if (sVariable.isEmpty() || !qEnvironmentVariableIsSet(name.constData()))
        throw EUsage(QStringLiteral("%1: the environment variable '%2' is not set").arg(sOption, sVariable));
    return qEnvironmentVariable(name.constData());
}

void SetDestination(TArguments &args, int iPage, const QString &sOption)
{
    if (args.bDestination)
        throw EUsage(QStringLiteral("give one of --email, --folder and --ftp, not %1 as well").arg(sOption));
    args.bDestination = true;
    args.order.Page = iPage;
}

// "send [DESTINATION OPTIONS] FILE...": without a destination the desktop
// program opens quick send on the files.
void ParseSend(const QStringList &lArgs, TArguments &args)
{
    TQuickSendOrder &order = args.order;
    order.ZipName = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    order.Subject = QStringLiteral("A file for you");
    order.Message = QStringLiteral("Here's a file for you.\r\n");
    order.Retention = -1; // the setting, read once the database is open
    order.ZipEncryption = TZipEncryption::Aes256; // as for a new task
    QStringList lOptionsSeen;
    bool bOptions = true;
    for (qsizetype i = 1; i < lArgs.size(); ++i) {
        const QString &sArg = lArgs.at(i);
        if (!bOptions || !sArg.startsWith(QLatin1String("--")) || sArg == QLatin1String("--")) {
            if (bOptions && sArg == QLatin1String("--")) {
                bOptions = false;
                continue;
            }
            if (bOptions && sArg.startsWith(QLatin1Char('-')) && sArg.size() > 1)
                throw EUsage(QStringLiteral("unknown option '%1'").arg(sArg));
            order.Files << sArg;
            continue;
        }
        const QString sName = sArg.section(QLatin1Char('='), 0, 0);
        lOptionsSeen << sName;
        if (sName == QLatin1String("--email")) {
            SetDestination(args, skEmail, sName);
            order.Recipient = OptionValue(lArgs, i, sName);
        } else if (sName == QLatin1String("--folder")) {
            SetDestination(args, skFile, sName);
            order.Folder = OptionValue(lArgs, i, sName);
        } else if (sName == QLatin1String("--ftp")) {
            SetDestination(args, skFTP, sName);
            order.FTPHost = OptionValue(lArgs, i, sName);
        } else if (sName == QLatin1String("--name"))
            order.ZipName = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--zip") && sArg == sName)
            order.Zip = true;
        else if (sName == QLatin1String("--password"))
            order.ZipPassword = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--password-env"))
            order.ZipPassword = EnvironmentValue(OptionValue(lArgs, i, sName), sName);
        else if (sName == QLatin1String("--encryption")) {
            const QString sValue = OptionValue(lArgs, i, sName);
            if (sValue == QLatin1String("aes256"))
                order.ZipEncryption = TZipEncryption::Aes256;
            else if (sValue == QLatin1String("traditional"))
                order.ZipEncryption = TZipEncryption::Traditional;
            else
                throw EUsage(
                    QStringLiteral("--encryption takes aes256 or traditional, not '%1'").arg(sValue));
        } else if (sName == QLatin1String("--subject"))
            order.Subject = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--message"))
            order.Message = MemoToMessage(
                OptionValue(lArgs, i, sName).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        else if (sName == QLatin1String("--link") && sArg == sName)
            order.UseStaging = true;
        else if (sName == QLatin1String("--retention")) {
            const QString sValue = OptionValue(lArgs, i, sName);
            const QStringList lChoices { QStringLiteral("day"), QStringLiteral("week"),
                                         QStringLiteral("month"), QStringLiteral("year"),
                                         QStringLiteral("forever") };
            order.Retention = int(lChoices.indexOf(sValue));
            if (order.Retention < 0)
                throw EUsage(QStringLiteral("--retention takes day, week, month, year or forever, not '%1'")
                                 .arg(sValue));
        } else if (sName == QLatin1String("--ftp-directory"))
            order.FTPDirectory = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--ftp-login"))
            order.FTPLogin = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--ftp-password"))
            order.FTPPassword = OptionValue(lArgs, i, sName);
        else if (sName == QLatin1String("--ftp-password-env"))
            order.FTPPassword = EnvironmentValue(OptionValue(lArgs, i, sName), sName);
        else
            throw EUsage(QStringLiteral("unknown option '%1'").arg(sName));
    }
    // Relative names are the caller's: the desktop program may run elsewhere.
    for (QString &sFile : order.Files)
        sFile = QFileInfo(sFile).absoluteFilePath();
    if (!args.bDestination) {
        if (!lOptionsSeen.isEmpty())
            throw EUsage(QStringLiteral("'%1' needs a destination: --email, --folder or --ftp")
                             .arg(lOptionsSeen.first()));
        args.command = TCommand::DesktopSend;
        return;
    }
    args.command = TCommand::Send;
    if (order.Files.isEmpty())
        throw EUsage(QStringLiteral("\"send\" needs at least one file"));
    for (const QString &sFile : std::as_const(order.Files))
        if (!QFileInfo(sFile).isFile())
            throw EUsage(QStringLiteral("no such file: '%1'").arg(sFile));
    if (order.UseStaging && order.Page != skEmail)
        throw EUsage(QStringLiteral("--link goes with --email only"));
    if (order.UseStaging)
        order.Message = EnsureLinkLine(order.Message);
}

TArguments ParseArguments(const QStringList &lArgs)
{
    TArguments args;
    // Help and version win wherever they stand, but not after "--": what
    // follows it is titles ("deliver -- --help" delivers "--help").
    const QStringList lOptions = lArgs.mid(0, lArgs.indexOf(QStringLiteral("--")));
    for (const QString &sArg : lOptions) {
        if (sArg == QLatin1String("-h") || sArg == QLatin1String("--help"))
            return args;
    }
    for (const QString &sArg : lOptions) {
        if (sArg == QLatin1String("-v") || sArg == QLatin1String("--version")) {
            args.command = TCommand::Version;
            return args;
        }
    }
    const QString sCommand = lArgs.value(0);
    if (sCommand == QLatin1String("list")) {
        args.command = TCommand::List;
        if (lArgs.size() > 1)
            throw EUsage(QStringLiteral("\"list\" takes no arguments: '%1'").arg(lArgs.at(1)));
        return args;
    }
    if (sCommand == QLatin1String("send")) {
        ParseSend(lArgs, args);
        return args;
    }
    if (sCommand != QLatin1String("deliver"))
        throw EUsage(sCommand.startsWith(QLatin1Char('-'))
                         ? QStringLiteral("unknown option '%1'").arg(sCommand)
                         : QStringLiteral("unknown command '%1'").arg(sCommand));
    args.command = TCommand::Deliver;
    bool bOptions = true;
    for (const QString &sArg : lArgs.mid(1)) {
        if (bOptions && sArg == QLatin1String("--"))
            bOptions = false;
        else if (bOptions && sArg == QLatin1String("--all"))
            args.bAll = true;
        else if (bOptions && sArg.startsWith(QLatin1Char('-')))
            throw EUsage(QStringLiteral("unknown option '%1'").arg(sArg));
        else
            args.lTitles << sArg;
    }
    if (args.bAll && !args.lTitles.isEmpty())
        throw EUsage(QStringLiteral("give either --all or titles, not both"));
    return args;
}

int ListCommand()
{
    TProjectList projects;
    projects.Load();
    projects.Parse();
    projects.SortByTitle();
    QString sOut;
    for (int i = 0; i < projects.Count(); ++i) {
        const TProject *project = projects.At(i);
        sOut += project->Title() + QLatin1Char('\t') + Plural(QStringLiteral("file"), project->FileCount())
            + QLatin1Char('\t') + Plural(QStringLiteral("change"), project->ChangedFiles())
            + QLatin1Char('\t') + Plural(QStringLiteral("send task"), projects.SendTasks(i))
            + QLatin1Char('\n');
    }
    Write(stdout, sOut);
    return exOK;
}

// The projects a deliver command names, or the due ones. Named projects are
// the only ones read and parsed.
QList<TProject *> SelectProjects(TProjectList &projects, const TArguments &args)
{
    if (!args.lTitles.isEmpty()) {
        try {
            const QList<TProject *> selected = projects.LoadTitled(args.lTitles);
            projects.Parse();
            return selected;
        } catch (const ENoSuchProject &e) {
            throw EUsage(e.Message());
        }
    }
    projects.Load();
    projects.Parse();
    projects.SortByTitle();
    return projects.Due(args.bAll);
}

// Writes the progress list to standard output. A line is written as soon as
// it is final, which is every line but a counter line (the next line takes
// its place), so that a line such as the wait for the database shows while
// the wait lasts; counter lines never are written. On a terminal a counter
// shows at once in place.
class TConsoleView
{
public:
    TConsoleView(TProgressList &oProgress, bool bTerminal)
        : FProgress(oProgress)
        , FTerminal(bTerminal)
    {
        QObject::connect(&oProgress, &TProgressList::lineAppended, &oProgress,
                         [this](int iIndex) { Update(iIndex); });
        QObject::connect(&oProgress, &TProgressList::lineChanged, &oProgress,
                         [this](int iIndex) { Update(iIndex); });
    }
    void Finish() { Flush(FProgress.Count()); }

private:
    void Update(int iIndex)
    {
        if (FProgress.Lines().at(iIndex).iFlag == 0)
            Flush(iIndex + 1);
        else
            ShowLive(iIndex);
    }
    void Flush(qsizetype iUpTo)
    {
        QString sOut;
        if (FLive && FPrinted < iUpTo) {
            sOut += QStringLiteral("\r\x1b[K");
            FLive = false;
        }
        for (; FPrinted < iUpTo; ++FPrinted) {
            const TProgressLine &line = FProgress.Lines().at(FPrinted);
            if (line.iFlag == 0)
                sOut += line.sText + QLatin1Char('\n');
        }
        if (!sOut.isEmpty())
            Write(stdout, sOut);
    }
    void ShowLive(int iIndex)
    {
        if (!FTerminal)
            return;
        QString sText = FProgress.Lines().at(iIndex).sText;
        while (sText.endsWith(QLatin1Char('\n')) || sText.endsWith(QLatin1Char('\r')))
            sText.chop(1);
        Write(stdout, QStringLiteral("\r\x1b[K") + sText);
        FLive = true;
    }

    TProgressList &FProgress;
    bool FTerminal = false;
    qsizetype FPrinted = 0;
    bool FLive = false;
};

int DeliverCommand(const TArguments &args)
{
    TProjectList projects;
    const QList<TProject *> selected = SelectProjects(projects, args);
    if (selected.isEmpty()) {
        Error(QStringLiteral("nothing to deliver"));
        return exOK;
    }
    TProgressList progress;
    TConsoleView view(progress, isatty(fileno(stdout)) != 0);
    // The same job as the delivery window's; the event loop runs until it ends.
    TDeliveryJob job(selected, progress);
    QObject::connect(&job, &TDeliveryJob::attendedError, &job,
                     [](const QString &sMessage) { Error(sMessage); });
    QObject::connect(&job, &TJob::ended, QCoreApplication::instance(), &QCoreApplication::quit);
    job.Run();
    QCoreApplication::exec();
    view.Finish();
    if (!job.ErrorText().isEmpty())
        throw Exception(job.ErrorText());
    return job.Result().Succeeded() ? exOK : exFailed;
}

// A quick send without windows: the same sender job as the progress window,
// the same lines on standard output.
int SendCommand(TArguments args)
{
    TQuickSendOrder &order = args.order;
    if (order.Retention < 0)
        order.Retention = Setting::FTPRetention.Get(0);
    if (order.UseStaging && !FTPAvailable())
        throw EUsage(QStringLiteral("--link needs your staging server (FTP or S3): set it up in Settings"));
    const QString sWhy = QuickSend::WhyNotReady(order, false);
    if (!sWhy.isEmpty())
        throw EUsage(QStringLiteral("cannot send: %1").arg(sWhy));
    QuickSend::Remember(order);
    TProgressList progress;
    TConsoleView view(progress, isatty(fileno(stdout)) != 0);
    TQuickSendJob job(order, progress);
    QObject::connect(&job, &TJob::ended, QCoreApplication::instance(), &QCoreApplication::quit);
    job.Run();
    QCoreApplication::exec();
    view.Finish();
    return job.Success() ? exOK : exFailed;
}

int RunCommand(const TArguments &args)
{
    switch (args.command) {
    case TCommand::List:
        return ListCommand();
    case TCommand::Deliver:
        return DeliverCommand(args);
    case TCommand::Send:
        return SendCommand(args);
    default:
        return exUsage;
    }
}

int UsageError(const QString &sMessage)
{
    Error(sMessage);
    Write(stderr, QStringLiteral("Try 'bundlewick --help' for more information.\n"));
    return exUsage;
}

class TCommandLine : public TFrontEnd
{
public:
    explicit TCommandLine(const TArguments &args)
        : FArgs(args)
    { }
    std::unique_ptr<QCoreApplication> CreateApplication(int &argc, char **argv) override
    {
        return std::make_unique<QCoreApplication>(argc, argv);
    }
    void InitFailed(const QString &sText) override { Error(sText); }
    void LockFailed(const QString &sText) override { Error(sText); }
    int AlreadyRunning() override
    {
        Error(QStringLiteral("Bundlewick is already running (the desktop program or another command); "
                             "close it and try again."));
        return exRunning;
    }
    int Run() override { return RunCommand(FArgs); }
    int Failed(const std::exception_ptr &error) override
    {
        try {
            std::rethrow_exception(error);
        } catch (const EUsage &e) {
            return UsageError(e.Message());
        } catch (...) {
            Error(ExceptionText(std::current_exception()));
            return exFailed;
        }
    }

private:
    TArguments FArgs;
};

} // namespace

bool IsCommandLine(int argc, char **argv)
{
    QStringList lFiles;
    return argc > 1 && !IsDesktopSend(argc, argv, lFiles);
}

bool IsDesktopSend(int argc, char **argv, QStringList &lFiles)
{
    if (argc < 2 || qstrcmp(argv[1], "send") != 0)
        return false;
    QStringList lArgs;
    for (int i = 1; i < argc; ++i)
        lArgs << QString::fromLocal8Bit(argv[i]);
    try {
        const TArguments args = ParseArguments(lArgs);
        if (args.command != TCommand::DesktopSend)
            return false;
        lFiles = args.order.Files;
        return true;
    } catch (const EUsage &) {
        return false; // the command line reports it
    }
}

int RunCommandLine(int argc, char **argv)
{
    QStringList lArgs;
    for (int i = 1; i < argc; ++i)
        lArgs << QString::fromLocal8Bit(argv[i]);
    TArguments args;
    try {
        args = ParseArguments(lArgs);
    } catch (const EUsage &e) {
        return UsageError(e.Message());
    }
    if (args.command == TCommand::Help) {
        Write(stdout, QString::fromUtf8(kHelp));
        return exOK;
    }
    if (args.command == TCommand::Version) {
        Write(stdout, QStringLiteral("Bundlewick %1\n").arg(AppVersion()));
        return exOK;
    }

    TCommandLine commandLine(args);
    return RunProgram(commandLine, argc, argv);
}

#include "ui/help.h"

#include "core/regutils.h"
#include "ui/formpos.h"
#include "ui/shellutils.h"
#include "ui/windowkit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QTextBrowser>
#include <QVBoxLayout>

#ifndef BW_DATA_INSTALL_DIR
#define BW_DATA_INSTALL_DIR ""
#endif
#ifndef BW_DATA_SOURCE_DIR
#define BW_DATA_SOURCE_DIR ""
#endif

namespace {

QPointer<TfrmHelp> gHelp;

// Where the program's data may be, most specific first.
QStringList DataFolders()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/bundlewick");
    folders << QStringLiteral(BW_DATA_INSTALL_DIR);
    if (!QStringLiteral(BW_DATA_SOURCE_DIR).isEmpty())
        folders << QStringLiteral(BW_DATA_SOURCE_DIR) + QStringLiteral("/data");
    folders.removeAll(QString());
    return folders;
}

struct TTopic
{
    int iContext;
    const char *sPage;
    const char *sAnchor;
};

// The topics the windows ask for, by the numbers they have always used.
constexpr TTopic kTopics[] = {
    { kHelpContentsTopic, "index.html", "" },
    { 16, "main.html", "" },
    { 17, "project-editor.html", "" },
    { 27, "project-editor.html", "project" },
    { 28, "project-editor.html", "files" },
    { 29, "project-editor.html", "send" },
    { 21, "send-editor.html", "" },
    { 30, "send-editor.html", "email" },
    { 31, "send-editor.html", "file" },
    { 32, "send-editor.html", "ftp" },
    { 20, "add-files.html", "" },
    { 18, "settings.html", "" },
    { 19, "quick-send.html", "" },
    { 22, "delivery.html", "" },
    { 24, "error.html", "" },
    { 40, "log.html", "" },
};

QString NotInstalledHtml()
{
    QString sWhere;
    const QStringList folders = DataFolders();
    for (const QString &sFolder : folders)
        sWhere += QStringLiteral("<li>%1</li>")
                      .arg(QDir::cleanPath(sFolder + QStringLiteral("/help")).toHtmlEscaped());
    return QStringLiteral("<h1>Help is not installed</h1><p>Bundlewick looked for its help pages in:</p><ul>")
        + sWhere + QStringLiteral("</ul><p>Reinstall Bundlewick to get them back.</p>");
}

} // namespace

QString HelpFolder()
{
    const QStringList folders = DataFolders();
    for (const QString &sFolder : folders) {
        const QString sHelp = QDir::cleanPath(sFolder + QStringLiteral("/help"));
        if (QFile::exists(sHelp + QStringLiteral("/index.html")))
            return sHelp;
    }
    return QString();
}

QString LicenceFile()
{
    QStringList candidates;
    const QStringList folders = DataFolders();
    for (const QString &sFolder : folders)
        candidates << QDir::cleanPath(sFolder + QStringLiteral("/LICENSE"));
    // The source tree keeps it at the top, not under data/.
    if (!QStringLiteral(BW_DATA_SOURCE_DIR).isEmpty())
        candidates << QStringLiteral(BW_DATA_SOURCE_DIR) + QStringLiteral("/LICENSE");
    for (const QString &sFile : std::as_const(candidates))
        if (QFile::exists(sFile))
            return sFile;
    return QString();
}

QUrl HelpTopicUrl(int iContext)
{
    if (iContext == kHelpLicenceTopic) {
        const QString sFile = LicenceFile();
        return sFile.isEmpty() ? QUrl() : QUrl::fromLocalFile(sFile);
    }
    const QString sFolder = HelpFolder();
    if (sFolder.isEmpty())
        return QUrl();
    const TTopic *found = &kTopics[0];
    for (const TTopic &topic : kTopics)
        if (topic.iContext == iContext)
            found = &topic;
    QUrl url = QUrl::fromLocalFile(sFolder + QLatin1Char('/') + QLatin1String(found->sPage));
    if (*found->sAnchor)
        url.setFragment(QLatin1String(found->sAnchor));
    return url;
}

bool ShowHelp(int iContext)
{
    // Owned by the modal dialog that is up, so that it takes clicks while
    // the dialog waits; else a window of its own.
    QWidget *owner = QApplication::activeModalWidget();
    if (gHelp && gHelp->parentWidget() != owner)
        delete gHelp.data();
    if (!gHelp) {
        gHelp = new TfrmHelp(owner);
        gHelp->setAttribute(Qt::WA_DeleteOnClose);
    }
    gHelp->ShowTopic(iContext);
    gHelp->show();
    gHelp->raise();
    gHelp->activateWindow();
    return HelpTopicUrl(iContext).isValid();
}

TfrmHelp::TfrmHelp(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Bundlewick help"));
    resize(640, 560);

    txtHelp = new QTextBrowser(this);
    txtHelp->setObjectName(QStringLiteral("txtHelp"));
    txtHelp->setAccessibleName(QStringLiteral("Help page"));
    // Pages link to each other; addresses on the web go to the browser.
    txtHelp->setOpenExternalLinks(true);
    btnContents = new QPushButton(QStringLiteral("C&ontents"), this);
    btnContents->setObjectName(QStringLiteral("btnContents"));
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));

    auto *buttons = new QHBoxLayout();
    buttons->addWidget(btnContents);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);
    auto *main = new QVBoxLayout(this);
    SetFormMargins(main);
    main->addWidget(txtHelp, 1);
    main->addLayout(buttons);

    connect(btnContents, &QPushButton::clicked, this, [this] { ShowTopic(kHelpContentsTopic); });
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    connect(txtHelp, &QTextBrowser::sourceChanged, this, &TfrmHelp::UpdateTitle);
}

void TfrmHelp::UpdateTitle()
{
    const QString sTitle = txtHelp->documentTitle();
    if (txtHelp->source().fileName() == QLatin1String("LICENSE"))
        setWindowTitle(QStringLiteral("Licence - Bundlewick help"));
    else
        setWindowTitle(sTitle.isEmpty() ? QStringLiteral("Bundlewick help")
                                        : sTitle + QStringLiteral(" - Bundlewick help"));
}

TfrmHelp *TfrmHelp::Current()
{
    return gHelp;
}

void TfrmHelp::ShowTopic(int iContext)
{
    const QUrl url = HelpTopicUrl(iContext);
    if (!url.isValid()) {
        txtHelp->setHtml(NotInstalledHtml());
        return;
    }
    // The licence is plain text; read as Markdown it keeps its paragraphs.
    txtHelp->setSource(
        url, iContext == kHelpLicenceTopic ? QTextDocument::MarkdownResource : QTextDocument::HtmlResource);
    UpdateTitle();
}

QUrl TfrmHelp::Source() const
{
    return txtHelp->source();
}

void TfrmHelp::showEvent(QShowEvent *event)
{
    if (!event->spontaneous() && Params)
        LoadFormPos(*Params, this);
    QWidget::showEvent(event);
}

void TfrmHelp::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && Params)
        SaveFormPos(*Params, this);
    QWidget::hideEvent(event);
}

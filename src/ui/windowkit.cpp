#include "ui/windowkit.h"

#include "core/globals.h"
#include "core/regutils.h"
#include "core/settingkeys.h"
#include "ui/formpos.h"
#include "ui/help.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QToolTip>
#include <QUrl>

namespace {

const char *const kHintProperty = "bwHint";
const char *const kHintTimeProperty = "bwHintTime";
const char *const kWindowHintsProperty = "bwWindowHints";

// Line edits draw masked text with the style's password character; this
// style makes it "•" whatever the platform style would use.
class TPasswordStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return kPasswordCharacter;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle *PasswordStyle()
{
    // One for the whole program, owned by the application object so that it
    // outlives every edit that uses it.
    static QPointer<TPasswordStyle> style;
    if (!style) {
        style = new TPasswordStyle();
        style->setParent(qApp);
    }
    return style;
}

} // namespace

// --- THints ---------------------------------------------------------------

void THints::SetHint(QWidget *widget, const QString &sHint, int iMsecs)
{
    widget->setProperty(kHintProperty, sHint);
    widget->setProperty(kHintTimeProperty, iMsecs);
    if (!widget->findChild<THints *>(QString(), Qt::FindDirectChildrenOnly)) {
        auto *filter = new THints(widget);
        widget->installEventFilter(filter);
    }
    // Screen readers get the hint as the description, whatever the setting.
    const qsizetype bar = sHint.indexOf(QLatin1Char('|'));
    widget->setAccessibleDescription(bar < 0 ? sHint.trimmed() : sHint.mid(bar + 1).simplified());
}

QString THints::Hint(const QWidget *widget)
{
    return widget->property(kHintProperty).toString();
}

QString THints::Html(const QString &sHint)
{
    const qsizetype bar = sHint.indexOf(QLatin1Char('|'));
    const QString sTitle = bar < 0 ? QString() : sHint.left(bar);
    QString sBody = bar < 0 ? sHint : sHint.mid(bar + 1);
    sBody.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    sBody = sBody.trimmed();
    QStringList lines = sBody.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.trimmed().toHtmlEscaped();
    QString html = QStringLiteral("<qt>");
    if (!sTitle.isEmpty())
        html += QStringLiteral("<b>") + sTitle.toHtmlEscaped() + QStringLiteral("</b><br>");
    html += lines.join(QLatin1String("<br>")) + QStringLiteral("</qt>");
    return html;
}

bool THints::Enabled()
{
    return !DB || Setting::ShowHints.Get();
}

void THints::SetWindowEnabled(QWidget *window, bool bEnabled)
{
    window->setProperty(kWindowHintsProperty, bEnabled);
}

bool THints::EnabledFor(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        const QVariant local = w->property(kWindowHintsProperty);
        if (local.isValid())
            return local.toBool();
        if (w->isWindow())
            break;
    }
    return Enabled();
}

bool THints::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    auto *widget = qobject_cast<QWidget *>(watched);
    const QString sHint = widget ? Hint(widget) : QString();
    if (sHint.isEmpty())
        return QObject::eventFilter(watched, event);
    if (!EnabledFor(widget)) {
        QToolTip::hideText();
        return true;
    }
    const auto *help = static_cast<QHelpEvent *>(event);
    QToolTip::showText(help->globalPos(), Html(sHint), widget, widget->rect(),
                       widget->property(kHintTimeProperty).toInt());
    return true;
}

// --- Passwords and labels -------------------------------------------------

const QString kEncryptionAes256Text = QStringLiteral("AES-256");
const QString kEncryptionTraditionalText = QStringLiteral("Traditional (weak, for Windows Explorer)");
const QString kEncryptionNote = QStringLiteral(
    "AES-256 opens in 7-Zip, WinZip, WinRAR, PeaZip, Keka and bsdtar, not in Windows Explorer or macOS "
    "Archive Utility; traditional opens everywhere but can be broken without the password.");

namespace {

// Enables the widget exactly while the password edit is not empty.
void FollowPassword(QWidget *widget, QLineEdit *password)
{
    widget->setEnabled(!password->text().isEmpty());
    QObject::connect(password, &QLineEdit::textChanged, widget,
                     [widget](const QString &sText) { widget->setEnabled(!sText.isEmpty()); });
}

} // namespace

QComboBox *NewEncryptionBox(QWidget *parent, const QString &sName, QLineEdit *password)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(sName);
    combo->addItem(kEncryptionAes256Text, int(TZipEncryption::Aes256));
    combo->addItem(kEncryptionTraditionalText, int(TZipEncryption::Traditional));
    combo->setCurrentIndex(0);
    THints::SetHint(combo, QStringLiteral("Zip encryption|") + kEncryptionNote);
    FollowPassword(combo, password);
    return combo;
}

QLabel *NewEncryptionNote(QWidget *parent, const QString &sName, QLineEdit *password)
{
    auto *note = new QLabel(kEncryptionNote, parent);
    note->setObjectName(sName);
    note->setWordWrap(true);
    FollowPassword(note, password);
    return note;
}

TZipEncryption EncryptionChoice(const QComboBox *combo)
{
    return combo->currentData().toInt() == int(TZipEncryption::Aes256) ? TZipEncryption::Aes256
                                                                       : TZipEncryption::Traditional;
}

void SetEncryptionChoice(QComboBox *combo, TZipEncryption eEncryption)
{
    combo->setCurrentIndex(combo->findData(int(eEncryption)));
}

bool HidePasswords()
{
    // One rule for every window: masked unless the value is exactly "0".
    return !DB || Setting::HidePasswords.Get();
}

namespace {

// An eye, crossed out while the text is shown (a click then hides it). Drawn
// here: icon themes name it differently, and there may be none.
QIcon RevealIcon(const QWidget *widget, bool bShown)
{
    const int iSize = 32;
    QPixmap pixmap(iSize, iSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(widget->palette().color(QPalette::Text), 2.5));
    QPainterPath eye;
    eye.moveTo(3, 16);
    eye.quadTo(16, 3, 29, 16);
    eye.quadTo(16, 29, 3, 16);
    painter.drawPath(eye);
    painter.setBrush(widget->palette().color(QPalette::Text));
    painter.drawEllipse(QPointF(16, 16), 4.5, 4.5);
    if (bShown)
        painter.drawLine(QPointF(5, 27), QPointF(27, 5));
    painter.end();
    return QIcon(pixmap);
}

void UpdateRevealAction(QLineEdit *edit, QAction *action)
{
    const bool bShown = edit->echoMode() == QLineEdit::Normal;
    action->setIcon(RevealIcon(edit, bShown));
    action->setText(bShown ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
    action->setToolTip(action->text());
}

} // namespace

void SetPasswordMasked(QLineEdit *edit, bool bMasked)
{
    if (edit->style() != PasswordStyle())
        edit->setStyle(PasswordStyle());
    edit->setEchoMode(bMasked ? QLineEdit::Password : QLineEdit::Normal);
    // Every password field can show what it holds, whatever the setting.
    auto *action = edit->findChild<QAction *>(QLatin1String(kRevealActionName), Qt::FindDirectChildrenOnly);
    if (!action) {
        action = new QAction(edit);
        action->setObjectName(QLatin1String(kRevealActionName));
        edit->addAction(action, QLineEdit::TrailingPosition);
        QObject::connect(action, &QAction::triggered, edit, [edit, action] {
            edit->setEchoMode(edit->echoMode() == QLineEdit::Normal ? QLineEdit::Password
                                                                    : QLineEdit::Normal);
            UpdateRevealAction(edit, action);
        });
    }
    UpdateRevealAction(edit, action);
}

QLabel *BuddyLabel(const QString &sCaption, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(sCaption, parent);
    label->setBuddy(buddy);
    QString sName = sCaption;
    sName.remove(QLatin1Char('&'));
    buddy->setAccessibleName(sName);
    return label;
}

namespace {

QBoxLayout *LabelColumn(QLabel *label)
{
    auto *column = new QVBoxLayout();
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(qMax(2, label->fontMetrics().height() / 5));
    column->addWidget(label);
    return column;
}

} // namespace

namespace {

class TPageTabBar : public QTabBar
{
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize size = QTabBar::tabSizeHint(index);
        size.setWidth(qMax(size.width(), fontMetrics().averageCharWidth() * 14));
        return size;
    }
};

class TPageTabs : public QTabWidget
{
public:
    explicit TPageTabs(QWidget *parent)
        : QTabWidget(parent)
    {
        setTabBar(new TPageTabBar(this));
    }
};

} // namespace

QTabWidget *NewPageTabs(QWidget *parent)
{
    return new TPageTabs(parent);
}

QDialogButtonBox *NewSaveCancelButtons(QWidget *parent, QPushButton *&btnSave, QPushButton *&btnCancel)
{
    auto *box = new QDialogButtonBox(parent);
    box->setObjectName(QStringLiteral("buttons"));
    btnSave = box->addButton(QStringLiteral("&Save"), QDialogButtonBox::AcceptRole);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setDefault(true);
    btnCancel = box->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    return box;
}

QBoxLayout *LabelledInput(QLabel *label, QWidget *input)
{
    QBoxLayout *column = LabelColumn(label);
    column->addWidget(input);
    return column;
}

QBoxLayout *LabelledInput(QLabel *label, QLayout *input)
{
    QBoxLayout *column = LabelColumn(label);
    column->addLayout(input);
    return column;
}

void SetFormMargins(QLayout *layout)
{
    layout->setContentsMargins(kFormMargin, kFormMargin, kFormMargin, kFormMargin);
    layout->setSpacing(kFormMargin);
}

// --- TDropFilter ----------------------------------------------------------

TDropFilter::TDropFilter(QWidget *widget, bool bFolderOnly, TCallback onDrop)
    : QObject(widget)
    , FFolderOnly(bFolderOnly)
    , FOnDrop(std::move(onDrop))
{ }

TDropFilter *TDropFilter::Install(QWidget *widget, bool bFolderOnly, TCallback onDrop)
{
    auto *filter = new TDropFilter(widget, bFolderOnly, std::move(onDrop));
    widget->setAcceptDrops(true);
    widget->installEventFilter(filter);
    return filter;
}

TDropFilter *TDropFilter::InstallFilesAndFolders(QWidget *widget, TCallback onDrop)
{
    TDropFilter *filter = Install(widget, false, std::move(onDrop));
    filter->FFilesAndFolders = true;
    return filter;
}

QStringList TDropFilter::FileAndFolderPaths(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        const QFileInfo info(url.toLocalFile());
        if (!url.isLocalFile() || !(info.isFile() || info.isDir()))
            return {};
        paths.append(QDir::cleanPath(info.absoluteFilePath()));
    }
    return paths;
}

QStringList TDropFilter::Taken(const QMimeData *mime) const
{
    return FFilesAndFolders ? FileAndFolderPaths(mime) : DroppedPaths(mime, FFolderOnly);
}

QStringList TDropFilter::DroppedPaths(const QMimeData *mime, bool bFolderOnly)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            return {};
        const QFileInfo info(url.toLocalFile());
        if (bFolderOnly ? !info.isDir() : !info.isFile())
            return {};
        paths.append(QDir::cleanPath(info.absoluteFilePath()));
    }
    if (bFolderOnly && paths.size() != 1)
        return {};
    return paths;
}

bool TDropFilter::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (Taken(drag->mimeData()).isEmpty())
            break;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = Taken(drop->mimeData());
        if (paths.isEmpty())
            break;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        FOnDrop(paths);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// --- TBaseDialog ----------------------------------------------------------

TBaseDialog::TBaseDialog(QWidget *parent)
    : QDialog(parent)
{
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { ShowHelp(HelpTopic()); });
}

void TBaseDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous() && Params)
        LoadFormPos(*Params, this);
}

void TBaseDialog::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous() && Params)
        SaveFormPos(*Params, this);
    QDialog::hideEvent(event);
}

#include "ui/shellutils.h"

#include "core/winutils.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <QWidget>

namespace {

// Shell-execute codes reported for the failures we can tell apart.
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kAccessDenied = 5;
constexpr int kNoAssociation = 31;

void putOnClipboard(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}

bool openUrl(const QUrl &url)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()) || !url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

} // namespace

bool OpenURL(const QString &sURL)
{
    const QString trimmed = sURL.trimmed();
    if (trimmed.isEmpty())
        return false;
    // Any address with a scheme (https://, ftp://, mailto:, ...) is used as it
    // is; only a bare host or path gets "http://".
    static const QRegularExpression scheme(QStringLiteral("^([a-z][a-z0-9+.-]*://|mailto:)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString address = scheme.match(trimmed).hasMatch() ? trimmed : QStringLiteral("http://") + trimmed;
    if (openUrl(QUrl(address, QUrl::TolerantMode)))
        return true;
    putOnClipboard(address);
    return false;
}

bool SendMailTo(const QString &sAddress, const QString &sSubject, const QString &sBody)
{
    if (sAddress.trimmed().isEmpty())
        return false;
    QString address = QStringLiteral("mailto:%1").arg(sAddress);
    if (!sSubject.trimmed().isEmpty())
        address += QStringLiteral("?subject=%1").arg(sSubject);
    else
        address += QStringLiteral("?subject=[no subject]");
    if (!sBody.trimmed().isEmpty())
        address += QStringLiteral("&body=%1").arg(sBody);
    if (openUrl(QUrl(address, QUrl::TolerantMode)))
        return true;
    putOnClipboard(sAddress);
    return false;
}

bool ShellOpen(const QString &sFileName, const QString &sParameters, const QString &sOperation)
{
    const QFileInfo info(sFileName);
    int code = 0;
    if (!info.exists()) {
        code = info.dir().exists() ? kFileNotFound : kPathNotFound;
    } else {
        const QString operation = sOperation.trimmed().toLower();
        bool ok = false;
        if (!sParameters.trimmed().isEmpty() && info.isFile()) {
            // A program with arguments is started directly.
            if (!info.isExecutable()) {
                code = kAccessDenied;
            } else {
                ok = QProcess::startDetached(info.absoluteFilePath(), QProcess::splitCommand(sParameters),
                                             info.absolutePath());
                code = kFileNotFound;
            }
        } else {
            // "explore" shows the folder; "open", "edit", "print" leave it to
            // the desktop's associated program.
            const QString target = (operation == QLatin1String("explore") && info.isFile())
                ? info.absolutePath()
                : info.absoluteFilePath();
            ok = openUrl(QUrl::fromLocalFile(target));
            code = kNoAssociation;
        }
        if (ok)
            return true;
    }
    putOnClipboard(ShellErrorText(code));
    return false;
}

bool OpenDocument(const QString &sFileName)
{
    return ShellOpen(sFileName, QString(), QStringLiteral("open"));
}

void SetRight(QWidget *control, int x)
{
    if (control)
        control->resize(x - control->x(), control->height());
}

void AlignRight(QWidget *control, int x)
{
    if (control)
        control->move(x - control->width(), control->y());
}

void AlignBottom(QWidget *control, int y)
{
    if (control)
        control->move(control->x(), y - control->height());
}

void SetBottom(QWidget *control, int y)
{
    if (control)
        control->resize(control->width(), y - control->y());
}

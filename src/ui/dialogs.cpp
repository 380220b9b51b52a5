#include "ui/dialogs.h"

#include "ui/windowkit.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <cstdio>
#include <deque>
#include <optional>

namespace {

struct TScript
{
    bool bScripted = qEnvironmentVariableIntValue("BW_TEST_DIALOGS") == 1;
    bool bEcho = bScripted;
    std::deque<bool> answers;
    std::deque<QStringList> fileNames;
    std::deque<std::optional<QString>> inputs;
    QList<TDialogs::TShown> shown;
};

TScript &Script()
{
    static TScript script;
    return script;
}

void Record(const QString &sKind, const QString &sTitle, const QString &sText)
{
    TScript &s = Script();
    s.shown.append({ sKind, sTitle, sText });
    if (s.bEcho)
        std::fprintf(stderr, "[%s] %s: %s\n", qPrintable(sKind), qPrintable(sTitle),
                     sText.toUtf8().constData());
}

QStringList NextFileNames()
{
    TScript &s = Script();
    if (s.fileNames.empty())
        return {};
    QStringList names = s.fileNames.front();
    s.fileNames.pop_front();
    return names;
}

void Message(QMessageBox::Icon icon, const QString &sKind, QWidget *parent, const QString &sTitle,
             const QString &sText)
{
    if (Script().bScripted) {
        Record(sKind, sTitle, sText);
        return;
    }
    QMessageBox box(icon, sTitle, sText, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void TDialogs::RecordShown(const QString &sKind, const QString &sTitle, const QString &sText)
{
    Record(sKind, sTitle, sText);
}

void TDialogs::Warning(QWidget *parent, const QString &sTitle, const QString &sText)
{
    Message(QMessageBox::Warning, QStringLiteral("warning"), parent, sTitle, sText);
}

void TDialogs::Critical(QWidget *parent, const QString &sTitle, const QString &sText)
{
    Message(QMessageBox::Critical, QStringLiteral("critical"), parent, sTitle, sText);
}

void TDialogs::Information(QWidget *parent, const QString &sTitle, const QString &sText)
{
    Message(QMessageBox::Information, QStringLiteral("information"), parent, sTitle, sText);
}

bool TDialogs::Confirm(QWidget *parent, const QString &sTitle, const QString &sText)
{
    TScript &s = Script();
    if (s.bScripted) {
        Record(QStringLiteral("confirm"), sTitle, sText);
        if (s.answers.empty())
            return false;
        const bool bYes = s.answers.front();
        s.answers.pop_front();
        return bYes;
    }
    QMessageBox box(QMessageBox::Question, sTitle, sText, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool TDialogs::InputQuery(QWidget *parent, const QString &sTitle, const QString &sPrompt, QString &sValue,
                          bool bPassword)
{
    TScript &s = Script();
    if (s.bScripted) {
        Record(QStringLiteral("input"), sTitle, sPrompt);
        if (s.inputs.empty())
            return false;
        const std::optional<QString> answer = s.inputs.front();
        s.inputs.pop_front();
        if (!answer)
            return false;
        sValue = *answer;
        return true;
    }
    QInputDialog dlg(parent);
    dlg.setWindowTitle(sTitle);
    dlg.setLabelText(sPrompt);
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setTextEchoMode(bPassword ? QLineEdit::Password : QLineEdit::Normal);
    if (bPassword) {
        if (auto *edit = dlg.findChild<QLineEdit *>())
            SetPasswordMasked(edit, true);
    }
    dlg.setTextValue(sValue);
    // Wide enough that the title bar shows the whole title, and an address
    // fits in the box.
    const QFontMetrics metrics(dlg.font());
    dlg.setMinimumWidth(
        qMax(metrics.horizontalAdvance(sTitle), metrics.horizontalAdvance(QLatin1Char('x')) * 40) + 120);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    sValue = dlg.textValue();
    return true;
}

QString TDialogs::SaveFileName(QWidget *parent, const QString &sTitle, const QString &sDir,
                               const QString &sFilter, const QString &sDefaultSuffix)
{
    if (Script().bScripted) {
        Record(QStringLiteral("save"), sTitle, sDir);
        return NextFileNames().value(0);
    }
    QFileDialog dlg(parent, sTitle, sDir, sFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (!sDefaultSuffix.isEmpty())
        dlg.setDefaultSuffix(sDefaultSuffix);
    if (dlg.exec() != QDialog::Accepted)
        return {};
    return dlg.selectedFiles().value(0);
}

QString TDialogs::OpenFileName(QWidget *parent, const QString &sTitle, const QString &sDir,
                               const QString &sFilter)
{
    if (Script().bScripted) {
        Record(QStringLiteral("open"), sTitle, sDir);
        return NextFileNames().value(0);
    }
    return QFileDialog::getOpenFileName(parent, sTitle, sDir, sFilter);
}

QStringList TDialogs::OpenFileNames(QWidget *parent, const QString &sTitle, const QString &sDir,
                                    const QString &sFilter)
{
    if (Script().bScripted) {
        Record(QStringLiteral("openmany"), sTitle, sDir);
        return NextFileNames();
    }
    return QFileDialog::getOpenFileNames(parent, sTitle, sDir, sFilter);
}

QString TDialogs::FolderName(QWidget *parent, const QString &sTitle, const QString &sDir)
{
    if (Script().bScripted) {
        Record(QStringLiteral("folder"), sTitle, sDir);
        return NextFileNames().value(0);
    }
    return QFileDialog::getExistingDirectory(parent, sTitle, sDir);
}

void TDialogs::SetScripted(bool bScripted)
{
    Script().bScripted = bScripted;
}

bool TDialogs::Scripted()
{
    return Script().bScripted;
}

void TDialogs::PushAnswer(bool bYes)
{
    Script().answers.push_back(bYes);
}

void TDialogs::PushFileName(const QString &sFileName)
{
    Script().fileNames.push_back(sFileName.isEmpty() ? QStringList() : QStringList { sFileName });
}

void TDialogs::PushFileNames(const QStringList &oFileNames)
{
    Script().fileNames.push_back(oFileNames);
}

void TDialogs::PushInput(const QString &sText)
{
    Script().inputs.push_back(sText);
}

void TDialogs::PushInputCancel()
{
    Script().inputs.push_back(std::nullopt);
}

QList<TDialogs::TShown> TDialogs::Shown()
{
    return Script().shown;
}

void TDialogs::Clear()
{
    TScript &s = Script();
    s.shown.clear();
    s.answers.clear();
    s.fileNames.clear();
    s.inputs.clear();
}

#include "delivery/sendtasks.h"

#include "core/globals.h"
#include "core/sqlite.h"
#include "delivery/sendtask.h"

#include <QList>
#include <QStringList>
#include <utility>

void SetSendParam(int iSendID, const QString &sName, const QString &sValue)
{
    const int id = DB->QueryInteger(
        QStringLiteral("SELECT id FROM sendparams WHERE id_send = ? AND name = ?"), { iSendID, sName });
    if (id > 0) {
        DB->Exec(QStringLiteral(
                     "UPDATE sendparams SET value = ?, modified = DATETIME('NOW') WHERE id = ? AND name = ?"),
                 { sValue, id, sName });
    } else {
        DB->Exec(QStringLiteral("INSERT INTO sendparams (id, id_send, name, value, modified) "
                                "VALUES (NULL, ?, ?, ?, DATETIME('NOW'))"),
                 { iSendID, sName, sValue });
    }
}

namespace {

// One pass over the text: what a placeholder is replaced by is never looked
// at again, so a title holding "{VERSION}" keeps it.
QString ReplacePlaceholders(const QString &sText, const QList<std::pair<QString, QString>> &oPairs)
{
    QString result;
    result.reserve(sText.size());
    qsizetype i = 0;
    while (i < sText.size()) {
        bool bReplaced = false;
        for (const auto &[sFind, sReplace] : oPairs) {
            if (QStringView(sText).mid(i).startsWith(sFind)) {
                result += sReplace;
                i += sFind.size();
                bReplaced = true;
                break;
            }
        }
        if (!bReplaced)
            result += sText.at(i++);
    }
    return result;
}

} // namespace

QString ReplaceSubject(const QString &sText, const QString &sTitle, const QString &sVersion)
{
    return ReplacePlaceholders(
        sText, { { QStringLiteral("{PROJECT}"), sTitle }, { QStringLiteral("{VERSION}"), sVersion } });
}

QString ReplaceBody(const QString &sText, const QString &sTitle, const QString &sVersion,
                    const QString &sLink)
{
    return ReplacePlaceholders(sText,
                               { { QStringLiteral("{PROJECT}"), sTitle },
                                 { QStringLiteral("{VERSION}"), sVersion },
                                 { QStringLiteral("{LINK}"), sLink } });
}

QString EnsureLinkLine(const QString &sMessage)
{
    const QString link = QStringLiteral("{LINK}");
    if (sMessage.contains(link))
        return sMessage;
    // As a line added to a memo: every line ends with CR LF, and the added
    // line "\r\n{LINK}" brings its own empty line.
    QString s = sMessage;
    if (!s.isEmpty() && !s.endsWith(QLatin1Char('\n')) && !s.endsWith(QLatin1Char('\r')))
        s += QLatin1String("\r\n");
    s += QLatin1String("\r\n") + link + QLatin1String("\r\n");
    return s;
}

QString MessageToMemo(const QString &sMessage)
{
    QString s = sMessage;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (s.endsWith(QLatin1Char('\n')))
        s.chop(1);
    return s;
}

QString MemoToMessage(const QString &sMemo)
{
    if (sMemo.isEmpty())
        return {};
    QString s = sMemo;
    if (s.endsWith(QLatin1Char('\n')))
        s.chop(1);
    const QStringList lines = s.split(QLatin1Char('\n'));
    return lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n");
}

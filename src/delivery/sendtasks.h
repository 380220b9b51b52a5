#pragma once

#include "archive/zipencryption.h"

#include <QString>

// Send-task kinds: the `type` column of the send table, the page order of the
// send editor and quick send, and the `method` code of the delivery log.
enum TSendKind : int {
    skEmail = 0,
    skFile = 1,
    skFTP = 2,
};

// Writes one parameter, keeping at most one row per task and name.
void SetSendParam(int iSendID, const QString &sName, const QString &sValue);

// Every "{PROJECT}" and "{VERSION}" replaced (case-sensitive). Inserted text
// is never searched again, so a title holding "{VERSION}" keeps it.
QString ReplaceSubject(const QString &sText, const QString &sTitle, const QString &sVersion);
// "{PROJECT}", "{VERSION}" then "{LINK}" replaced.
QString ReplaceBody(const QString &sText, const QString &sTitle, const QString &sVersion,
                    const QString &sLink);
// The message with "{LINK}" on a line of its own after an empty line, when
// it does not hold "{LINK}" yet; lines end with CR LF.
QString EnsureLinkLine(const QString &sMessage);

// A stored message as a multi-line edit holds it: CR LF, LF or CR end a
// line, and a final line break opens no further line.
QString MessageToMemo(const QString &sMessage);
// An edit's text as a stored message: each line followed by CR LF.
QString MemoToMessage(const QString &sMemo);

#pragma once

#include <QString>

// The "settings" table of the main database, reached through the global DB.
// Nothing is cached: every call reads or writes the table at once. Database
// failures raise ESQLiteException.

// The value stored under sName (exact, case-sensitive); empty without a row.
QString GetSetting(const QString &sName);
// Updates the row of sName, or inserts one. Settings are never deleted:
// clearing one stores the empty string.
void SetSetting(const QString &sName, const QString &sValue);
// True when "Email server", "Email port" and "Email from" are not blank
// after trimming, and, only with the login on ("Email login" exactly "1"),
// "Email username" and "Email password" too.
bool EmailAvailable();
// True when a staging server is set: "FTP host" is not empty, or, with
// "Staging kind" 1, the S3 endpoint, bucket and access key id are.
bool FTPAvailable();
// False only when "Show hints" is exactly "0".
bool ShowHints();

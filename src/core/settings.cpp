#include "core/settings.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"
#include "core/winutils.h"

QString GetSetting(const QString &sName)
{
    return DB->QueryStringFmt(QStringLiteral("SELECT value FROM settings WHERE name = '%s'"),
                              { SQLEscape(sName) });
}

void SetSetting(const QString &sName, const QString &sValue)
{
    // The name is escaped in the lookup too: a quote in it must not break
    // the statement (or insert a second row for the same name).
    const int id = DB->QueryIntegerFmt(QStringLiteral("SELECT id FROM settings WHERE name = '%s'"),
                                       { SQLEscape(sName) });
    if (id > 0)
        DB->ExecSQLFmt(
            QStringLiteral("UPDATE settings SET value = '%s', modified = DATETIME('NOW') WHERE id = %d"),
            { SQLEscape(sValue), id });
    else
        DB->ExecSQLFmt(
            QStringLiteral("INSERT INTO settings (id, name, value, modified) VALUES (NULL, '%s', '%s', "
                           "DATETIME('NOW'))"),
            { SQLEscape(sName), SQLEscape(sValue) });
}

bool EmailAvailable()
{
    const auto Set = [](const TSettingKey &key) { return !key.Text().trimmed().isEmpty(); };
    if (!Set(Setting::EmailServer) || !Set(Setting::EmailPort) || !Set(Setting::EmailFrom))
        return false;
    // A server that takes mail without a login needs no account.
    return !Setting::EmailLogin.Get() || (Set(Setting::EmailUsername) && Set(Setting::EmailPassword));
}

bool FTPAvailable()
{
    return !DB->QueryStringFmt(QStringLiteral("SELECT value FROM settings WHERE name = 'FTP host'"), {})
                .isEmpty();
}

bool ShowHints()
{
    return Setting::ShowHints.Get();
}

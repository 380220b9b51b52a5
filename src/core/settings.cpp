#include "core/settings.h"

#include "core/globals.h"
#include "core/settingkeys.h"
#include "core/sqlite.h"

QString GetSetting(const QString &sName)
{
    return DB->QueryString(QStringLiteral("SELECT value FROM settings WHERE name = ?"), { sName });
}

void SetSetting(const QString &sName, const QString &sValue)
{
    const qint64 id = DB->QueryInteger(QStringLiteral("SELECT id FROM settings WHERE name = ?"), { sName });
    if (id > 0)
        DB->Exec(QStringLiteral("UPDATE settings SET value = ?, modified = DATETIME('NOW') WHERE id = ?"),
                 { sValue, id });
    else
        DB->Exec(QStringLiteral("INSERT INTO settings (id, name, value, modified) VALUES (NULL, ?, ?, "
                                "DATETIME('NOW'))"),
                 { sName, sValue });
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
    if (Setting::StagingKind.Get() == 1)
        return !Setting::S3Endpoint.Get().trimmed().isEmpty() && !Setting::S3Bucket.Get().trimmed().isEmpty()
            && !Setting::S3AccessKeyId.Get().trimmed().isEmpty();
    return !DB->QueryString(QStringLiteral("SELECT value FROM settings WHERE name = ?"),
                            { Setting::FTPHost.Name() })
                .isEmpty();
}

bool ShowHints()
{
    return Setting::ShowHints.Get();
}

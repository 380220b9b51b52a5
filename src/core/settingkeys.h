#pragma once

#include "core/regutils.h"

#include <QString>
#include <type_traits>

// Every name the program keeps in the settings table (Setting::...) and in the
// per-user parameter store (Param::...), each with its type and its default,
// so that callers never spell a name or a default themselves:
//
//   const int iDays = Setting::LogDays.Get();           // 365 when absent
//   Param::LogFilterSuccess.Set(cbSuccess->isChecked());
//
// Settings are read from the database at every call (nothing is cached, a
// change applies to the next reader); parameters live in memory in the
// global Params until it is saved.

// How a truth setting reads its stored text. Readers differ on purpose: the
// senders log in only for exactly "1", while "Show hints" is on unless the
// text is exactly "0".
enum class TFlagRule {
    UnlessZero, // false only for exactly "0"; absent, empty and any other text read true
    ExactlyOne, // true only for exactly "1"
    IntegerOne, // true when the text reads as the integer 1 (" 1" and "01" too)
};

// The name of a row of the settings table and untyped access to its text.
class TSettingKey
{
public:
    explicit TSettingKey(const char *sName)
        : FName(QString::fromLatin1(sName))
    { }

    const QString &Name() const { return FName; }
    // The stored text; empty without a row (GetSetting).
    QString Text() const;
    // Updates or inserts the row (SetSetting).
    void SetText(const QString &sValue) const;
    // The stored text as a decimal integer (blanks around it ignored);
    // iDefault when absent, empty or not an integer.
    int AsInt(int iDefault) const;

private:
    QString FName;
};

template<typename T> class TSetting;

// A text setting: absent reads as empty text.
template<> class TSetting<QString> : public TSettingKey
{
public:
    using TSettingKey::TSettingKey;
    QString Get() const { return Text(); }
    void Set(const QString &sValue) const { SetText(sValue); }
};

// An integer setting, written as decimal text.
template<> class TSetting<int> : public TSettingKey
{
public:
    TSetting(const char *sName, int iDefault)
        : TSettingKey(sName)
        , FDefault(iDefault)
    { }
    int Default() const { return FDefault; }
    // The declared default when absent, empty or not an integer.
    int Get() const { return AsInt(FDefault); }
    // For the readers that have a default of their own.
    int Get(int iDefault) const { return AsInt(iDefault); }
    void Set(int iValue) const;

private:
    int FDefault;
};

// A truth setting, written as "1" or "0" and read by its rule.
template<> class TSetting<bool> : public TSettingKey
{
public:
    TSetting(const char *sName, TFlagRule eRule)
        : TSettingKey(sName)
        , FRule(eRule)
    { }
    TFlagRule Rule() const { return FRule; }
    bool Get() const;
    void Set(bool bValue) const;

private:
    TFlagRule FRule;
};

namespace Setting {

// The staging FTP server, for e-mails that carry a link instead of the archive.
inline const TSetting<QString> FTPHost { "FTP host" };
inline const TSetting<QString> FTPDirectory { "FTP directory" };
inline const TSetting<QString> FTPLogin { "FTP login" };
inline const TSetting<QString> FTPPassword { "FTP password" };
// Default lifespan of staging uploads, an index 0 to 4 ("one day" ... "forever").
// The settings view takes 1 when it is absent, quick send takes Get(0).
inline const TSetting<int> FTPRetention { "FTP retention", 1 };
// Web address under which staging uploads can be downloaded.
inline const TSetting<QString> FTPHttpPath { "FTP http path" };

// Where staging uploads go: 0 the FTP server above, 1 S3-compatible
// object storage (the S3 settings below).
inline const TSetting<int> StagingKind { "Staging kind", 0 };
// The S3-compatible storage: the endpoint's address
// ("https://s3.eu-central-1.amazonaws.com", "http://127.0.0.1:9000"), its
// region, the bucket, a prefix put before every object key, the key pair
// (the secret in plain text, as the other passwords), path-style addressing
// ("1": endpoint/bucket/key; otherwise bucket.endpoint/key) and the optional
// public address the bucket is served under (a bucket website or a CDN),
// which links that outlive a week need.
inline const TSetting<QString> S3Endpoint { "S3 endpoint" };
inline const TSetting<QString> S3Region { "S3 region" };
inline const TSetting<QString> S3Bucket { "S3 bucket" };
inline const TSetting<QString> S3Prefix { "S3 key prefix" };
inline const TSetting<QString> S3AccessKeyId { "S3 access key id" };
inline const TSetting<QString> S3SecretKey { "S3 secret key" };
inline const TSetting<bool> S3PathStyle { "S3 path style", TFlagRule::ExactlyOne };
inline const TSetting<QString> S3PublicAddress { "S3 public address" };

inline const TSetting<bool> ShowHints { "Show hints", TFlagRule::UnlessZero };
// Masks password fields. The settings view masks unless the text is exactly
// "0" (Get()); the send editor masks only when it reads as a non-zero
// integer (AsInt(0) != 0).
inline const TSetting<bool> HidePasswords { "Hide passwords", TFlagRule::UnlessZero };
// Days to keep delivery-log rows; the settings view allows 1 to 1826.
inline const TSetting<int> LogDays { "Log days", 365 };

// The SMTP account.
inline const TSetting<QString> EmailServer { "Email server" };
inline const TSetting<QString> EmailUsername { "Email username" };
inline const TSetting<QString> EmailPassword { "Email password" };
// 0 in the settings view; the senders use 25 for 0 or a missing value
// (TSMTPSettings, delivery/connection.h).
inline const TSetting<int> EmailPort { "Email port", 0 };
inline const TSetting<QString> EmailFrom { "Email from" };
// The senders log in only for exactly "1" (Get()); the settings view ticks
// its box when the text reads as the integer 1 (AsInt(0) == 1).
inline const TSetting<bool> EmailLogin { "Email login", TFlagRule::ExactlyOne };
// "1": the login may go out unencrypted when the server offers no STARTTLS
// (an old internal server); otherwise such an e-mail fails before the login.
inline const TSetting<bool> EmailAllowPlainLogin { "Email allow plain login", TFlagRule::ExactlyOne };
// Quick send starts with "Use your FTP server" ticked.
inline const TSetting<bool> EmailFTP { "EmailFTP", TFlagRule::IntegerOne };

// A PEM file of certificate authorities that SMTP and FTPS servers are
// checked against, for users with an internal authority; empty: the
// system's store.
inline const TSetting<QString> TLSCertificates { "TLS certificates file" };

} // namespace Setting

// A name of the parameter store with its type and default. Int, bool and
// QString map to GetInt/GetBool/GetStr and SetInt/SetBool/SetStr of TParams.
// Without a store (Params null) Get returns the default and Set does nothing.
// Some defaults depend on the day or the machine; they are given as a
// function, evaluated at each read that needs it.
template<typename T> class TParam
{
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, bool> || std::is_same_v<T, QString>);

public:
    using TDefaultFn = T (*)();

    TParam(const char *sName, T oDefault)
        : FName(QString::fromLatin1(sName))
        , FDefault(std::move(oDefault))
    { }
    TParam(const char *sName, TDefaultFn fnDefault)
        : FName(QString::fromLatin1(sName))
        , FDefaultFn(fnDefault)
    { }

    const QString &Name() const { return FName; }
    T Default() const { return FDefaultFn ? FDefaultFn() : FDefault; }

    T Get() const
    {
        if (!Params)
            return Default();
        // The default is only worked out when the name is absent.
        if constexpr (std::is_same_v<T, QString>)
            return FDefaultFn && !Has() ? Default() : Params->GetStr(FName, FDefault);
        else
            return Get(Default());
    }
    T Get(const T &oDefault) const
    {
        if (!Params)
            return oDefault;
        if constexpr (std::is_same_v<T, int>)
            return Params->GetInt(FName, oDefault);
        else if constexpr (std::is_same_v<T, bool>)
            return Params->GetBool(FName, oDefault);
        else
            return Params->GetStr(FName, oDefault);
    }
    void Set(const T &oValue) const
    {
        if (!Params)
            return;
        if constexpr (std::is_same_v<T, int>)
            Params->SetInt(FName, oValue);
        else if constexpr (std::is_same_v<T, bool>)
            Params->SetBool(FName, oValue);
        else
            Params->SetStr(FName, oValue);
    }
    // Whether the store holds the name at all.
    bool Has() const
    {
        if (!Params)
            return false;
        for (const TParams::TEntry &entry : Params->Entries()) {
            if (entry.sName.compare(FName, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

private:
    QString FName;
    T FDefault {};
    TDefaultFn FDefaultFn = nullptr;
};

// Today's local date as whole days since 30 December 1899, the form of the
// date parameters.
int TodayDayCount();

namespace Param {

// The defaults that depend on the machine or the day.
QString DesktopFolder();
QString DocumentsFolder();
QString DataFolder();
int YearAgoDay();

// Start-up and the program as a whole.
inline const TParam<bool> VerboseDebugging { "Verbose debugging", false }; // reset at every start
inline const TParam<QString> DownloadFile { "Download file", QString() }; // deleted at start-up
inline const TParam<bool> RememberPositions { "Remember positions", true };

// Where error reports ("BugReport.zip": the error text, the version and a
// stack trace, never the data report) are uploaded by FTP: "host" or
// "host:port", empty (the default) for nowhere. The account is the user's
// own; an empty login logs in anonymously.
inline const TParam<QString> ReportServer { "Report server", QString() };
inline const TParam<QString> ReportLogin { "Report login", QString() };
inline const TParam<QString> ReportPassword { "Report password", QString() };

// Settings view: the active tab, 0 FTP, 1 General, 2 SMTP.
inline const TParam<int> SettingsTab { "Settings tab", 0 };

// Delivery log viewer. The widths are decimal numbers joined by ","; it is
// stored only when it holds at least one ",".
inline const TParam<QString> LogColumnWidths { "Log column widths", QString() };
inline const TParam<bool> LogFilterSuccess { "Log filter success", true };
inline const TParam<bool> LogFilterFailure { "Log filter failure", true };
inline const TParam<bool> LogFilterZip { "Log filter zip", true };
inline const TParam<bool> LogFilterQuick { "Log filter quick", true };
inline const TParam<bool> LogFilterEmail { "Log filter email", true };
inline const TParam<bool> LogFilterFile { "Log filter file", true };
inline const TParam<bool> LogFilterFTP { "Log filter FTP", true };
inline const TParam<QString> LogFilterFilename { "Log filter filename", QString() };
inline const TParam<bool> LogFilterFrom { "Log filter from", false };
inline const TParam<bool> LogFilterTo { "Log filter to", false };
// Whole days since 30 December 1899 (TodayDayCount).
inline const TParam<int> LogFilterFromDate { "Log filter from date", &YearAgoDay };
inline const TParam<int> LogFilterToDate { "Log filter to date", &TodayDayCount };
inline const TParam<QString> LogOutputFolder { "Log output folder", &DesktopFolder };

// Delivery window: folder of the last saved progress log.
inline const TParam<QString> LogFolder { "Log folder", &DataFolder };
// Send editor: last folder chosen for a copy-to-folder task.
inline const TParam<QString> SendFileFolder { "Send file folder", &DesktopFolder };
// Add files dialog.
inline const TParam<QString> AddFileFolder { "Add file folder", &DocumentsFolder };
inline const TParam<bool> AddFoldersRecursively { "Add folders recursively", false };
// Main window: folder of the last files picked for a quick send.
inline const TParam<QString> QuickSendFolder { "Quick send folder", &DocumentsFolder };
// Project editor: folder of the last chosen project file.
inline const TParam<QString> ProjectPath { "Project path", &DocumentsFolder };

} // namespace Param

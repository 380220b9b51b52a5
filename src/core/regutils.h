#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// The per-user parameter store: window positions, last-used folders, filters
// and switches. Loaded once when created, written back when destroyed.
//
// The store lives in one typed text file under $XDG_CONFIG_HOME; the root key
// "SOFTWARE\orro{}\Bundlewick" maps to "orro{}/Bundlewick/params.conf".
// A name with backslashes, Sub\Name, is the value Name of the subkey Sub.
// Every entry keeps the type it is written back as:
//   0, 1 string; 2 expandable string (written back as a plain string);
//   3 32-bit integer (non-integer text written as 0); 4 raw bytes (never written).
// Names are matched ignoring letter case. Values are never deleted from the
// file: an entry dropped from memory keeps its stored value.
class TParams
{
public:
    enum TValueType { vtNone = 0, vtString = 1, vtExpandString = 2, vtInteger = 3, vtBinary = 4 };

    struct TEntry
    {
        QString sName; // key path + "\" + value name, or the value name alone
        QString sValue;
        int iType = vtString;

        QString KeyPath() const;
        QString ValueName() const;
    };

    explicit TParams(const QString &sRootKey);
    // The same store kept in the file sFileName.
    TParams(const QString &sRootKey, const QString &sFileName);
    // Saves; never throws.
    ~TParams();
    TParams(const TParams &) = delete;
    TParams &operator=(const TParams &) = delete;

    // Writes every entry to the file (merged over what the file holds).
    // False when the file could not be written; the previous file is then intact.
    bool SaveData();
    // One name=value line per entry.
    QString ListData() const;

    QString GetStr(const QString &sName, const QString &sDefault = QString()) const;
    int GetInt(const QString &sName, int iDefault = 0) const;
    bool GetBool(const QString &sName, bool bDefault = false) const;
    double GetFloat(const QString &sName, double dDefault = 0) const;

    void SetStr(const QString &sName, const QString &sValue);
    void SetInt(const QString &sName, int iValue);
    void SetBool(const QString &sName, bool bValue);
    void SetFloat(const QString &sName, double dValue);

    // oList as name=value lines: the entries whose key path is exactly sName.
    void GetNameValueList(const QString &sName, QStringList &oList) const;
    // Sets sName\name for every name=value line; an empty value drops the entry.
    void SetNameValueList(const QString &sName, const QStringList &oList);

    const QString &RootKey() const { return FRootKey; }
    // Full path of the file that holds the store.
    const QString &FileName() const { return FFileName; }
    const std::vector<TEntry> &Entries() const { return FList; }

private:
    QString FRootKey;
    QString FFileName;
    std::vector<TEntry> FList;

    void LoadData();
    int IndexOf(const QString &sName) const;
    void Append(const QString &sName, const QString &sValue, int iType);
};

// The process-wide store; created and deleted by the start-up code. It has
// no lock: user-interface thread only (background jobs do not use it).
extern TParams *Params;

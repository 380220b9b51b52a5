#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

// Read-only view of a Wine registry hive file (system.reg, user.reg): the text
// format that starts with "WINE REGISTRY Version 2". Key and value names
// compare case-insensitively, as on Windows. Only string values are kept
// (plain, str(1)/str(2) and their hex(1)/hex(2) forms); other data types read
// as missing. The parser accepts any bytes: junk lines are skipped, never fatal.
class TWineRegistry
{
public:
    // Loads a hive file; false (and an empty registry) when the file cannot be
    // read or lacks the header.
    bool LoadFromFile(const QString &sFileName);
    // Same for text already in memory.
    bool LoadFromText(const QByteArray &data);
    void Clear();

    // "#arch=win64" was given: 32-bit programs see Software\Wow6432Node.
    bool IsWin64() const { return FWin64; }
    // Keys are paths below the hive's root, parts separated by "\"; a key is
    // present when it or any key below it is written in the file.
    bool KeyExists(const QString &sKey) const;
    // The string value sName of sKey ("" is the default value); false when
    // the key or value is missing or the value is not a string.
    bool ReadString(const QString &sKey, const QString &sName, QString &sValue) const;
    int KeyCount() const { return int(FKeyNames.size()); }

    // A key path in the form used for lookups: lower case, no empty parts.
    static QString NormalizeKey(const QString &sKey);

private:
    bool FWin64 = false;
    QSet<QString> FKeyNames;
    QHash<QString, QHash<QString, QString>> FValues;
};

#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <limits>

// File names as bytes, folder listings and file times.

// File names on Linux are bytes, not always UTF-8. These carry any name
// through a QString and back unchanged: valid UTF-8 decodes as usual, and
// every byte of an invalid sequence becomes the lone surrogate U+DC80 to
// U+DCFF (Python's "surrogateescape"), which no decoded text holds
// otherwise. Use EncodeFileName, not QFile::encodeName, to reach such a file.
QString DecodeFileName(QByteArrayView raw);
QByteArray EncodeFileName(QStringView sName);
// True when the name holds such an escaped byte: it is not UTF-8 on disk.
bool HasRawFileNameBytes(QStringView sName);
// The name for messages and logs: each escaped byte shown as "\xNN"
// (upper-case hex), everything else as it is.
QString ReadableFileName(const QString &sName);

inline constexpr qint64 kNoFileTime = std::numeric_limits<qint64>::min();

// What one stat of a regular file tells (links followed): enough to count it
// as changed and to zip it without asking the file system again.
struct TFileFacts
{
    qint64 iModified = kNoFileTime; // ms since the epoch; kNoFileTime when not read or no regular file
    qint64 iSize = -1; // bytes; -1 when not read or no regular file
    quint32 iMode = 0; // st_mode

    bool Known() const { return iSize >= 0; }
};

// Fills oList (cleared first) with the files of sDir whose extension occurs in
// sMask ("*" takes every file), entries of each folder in case-insensitive name
// order, hidden files included. With bRecursive, subfolders are listed at their
// place in that order, except those whose lower-cased path ends with one of the
// ";"-separated entries of sExclude. Full paths ("/" separated) with
// bFullPath, otherwise bare names. Unreadable folders are skipped. Links to
// folders are not entered (sDir itself may be one), links to files are
// listed, and no folder is listed twice. Names that are not valid UTF-8 are
// listed as DecodeFileName gives them. With pFacts, it gets each listed
// file's time, size and mode (FileFacts), in step with oList, read by one
// stat per file in the folder being listed.
void ListFiles(const QString &sDir, const QString &sMask, QStringList &oList, const QString &sExclude,
               bool bRecursive, bool bFullPath, QList<TFileFacts> *pFacts = nullptr);
// One stat of the file, links followed; nothing known when it is missing or
// not a regular file.
TFileFacts FileFacts(const QString &sFile);
// A file's modification time in milliseconds since the epoch, links followed;
// kNoFileTime when it is missing or not a regular file.
qint64 FileModifiedMSecs(const QString &sFile);

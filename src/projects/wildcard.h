#pragma once

#include "core/listfiles.h"

#include <QString>
#include <QStringList>

// A stored wildcard entry split into its pieces: "folder/mask", then the
// options " -r" (recursive) and " -e" (exclusions), in any order and case.
struct TWildcardEntry
{
    QString sPath; // "folder/mask"
    bool bRecursive = false;
    QString sExclude; // ";"-separated folder names or path tails, unquoted
};

// Splits the entry text. The options are found anywhere in the text, so a
// folder name holding " -r" or " -e" is cut there.
TWildcardEntry ParseWildcardEntry(const QString &sEntry);

// Whether the stored entry text is a wildcard entry: it carries options, or
// its mask holds "*", "?" or ";". Anything else is a single-file entry, which
// yields exactly its file or nothing, even when a file of that name is gone.
bool IsWildcardEntry(const QString &sEntry);

// The absolute, normalised paths the entry text yields, depth first in
// listing order; for the text of an existing file that path alone. A missing
// file, or a missing folder, yields nothing. Names that are not valid UTF-8
// are listed as DecodeFileName gives them. pFacts gets the files' times,
// sizes and modes in step with the paths (FileFacts).
QStringList MatchWildCardList(const QString &sWildcard, QList<TFileFacts> *pFacts = nullptr);
// The number of paths MatchWildCardList yields.
int MatchWildCardCount(const QString &sWildcard);

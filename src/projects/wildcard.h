#pragma once

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

// The absolute, normalised paths the entry text yields, depth first in
// listing order; for the text of an existing file that path alone. A missing
// folder yields nothing.
QStringList MatchWildCardList(const QString &sWildcard);
// The number of paths MatchWildCardList yields.
int MatchWildCardCount(const QString &sWildcard);

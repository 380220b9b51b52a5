#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

class TProject;

// Composes "readme.htm", the manifest at the top of every delivery archive.
// Every inserted value is HTML-escaped (&, <, >, ").
class TReadMe
{
public:
    // The current local time; tests set a fixed clock, null means the system's.
    static std::function<QDateTime()> Clock;

    // "hh:nn on dddd d mmmm yyyy", names in the user's language.
    static QString DateText(const QDateTime &dtLocal);
    // Day count as above; callers pass only non-zero days.
    static QString DayText(double dDays);

protected:
    TReadMe(const TProject &oProject, const QString &sRoot, const QString &sVersion);

    QString Head() const;
    QString SummaryTable() const;
    QString ChangedFilesRow() const;
    QString LastArchiveRow() const;
    static QString Tail();
    // The path without the root's length of leading characters.
    QString Relative(const QString &sPath) const;

    const TProject &FProject;
    QString FRoot; // with its trailing "/"
    QString FVersion;
};

class TReadMeGeneric : public TReadMe
{
public:
    static QString Execute(const TProject &oProject, const QString &sRoot, const QString &sVersion);

private:
    using TReadMe::TReadMe;
    QString Page() const;
};

class TReadMeDelphi : public TReadMe
{
public:
    static QString Execute(const TProject &oProject, const QString &sRoot, const QString &sVersion);

private:
    using TReadMe::TReadMe;
    QString Page() const;
};

// Writes the page: every line ended by CR LF, the last included, UTF-8
// without a byte-order mark. Raises EOSError when the file cannot be written.
void SaveReadMe(const QString &sText, const QString &sFileName);

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class TProject;

// Storing the file entries of a project: single files, and wildcard entries
// (a folder, a mask and options) built from what the user typed.

// The folder choice of a wildcard entry, as typed.
struct TWildcardInput
{
    QString sFolder;
    QString sMask;
    bool bRecursive = false;
    QString sExclude; // ";"-separated folder names
};

// "folder/mask": the folder (normalised when absolute) and the mask as typed.
QString WildcardPathPart(const QString &sFolder, const QString &sMask);

// The entry text the input stands for, without the duplicate tests; empty when
// the folder or the mask is blank or the folder is not absolute. This is what
// the live count counts.
QString WildcardEntryText(const TWildcardInput &input);

// The entry text for the input: the path part alone, or followed by " -r" and,
// with a non-blank exclusion text, " -e " and that text in double quotes.
// Empty when the input is not a valid new entry of the project: the folder or
// the mask is blank, the folder is not absolute, the path part is a file of
// the project's list, or the project already stores the same plain path part
// (compared exactly: Linux names differ in case, and "_" is no wildcard).
// Only plain path parts are compared, so the same folder and mask can be
// stored once without and any number of times with " -r".
QString BuildWildcardEntry(const TWildcardInput &input, const TProject &project);

// The paths a file field holds: comma text (quoted items) when it contains a
// double quote, otherwise one path per line. Blank items are dropped.
QStringList SplitFileText(const QString &sText);
// The text for a file field that SplitFileText turns back into oPaths.
QString JoinFileText(const QStringList &oPaths);
// Whether every path is absolute; an empty list is not valid either.
bool ValidFilePaths(const QStringList &oPaths);

// Stores one entry of the project; returns its id.
int StoreFileEntry(int iProjectID, const QString &sEntry);
// Stores every path as a single-file entry, in order, without existence or
// duplicate tests; returns the id of the first, 0 when there were none.
int StoreFileEntries(int iProjectID, const QStringList &oPaths);

// Counts the files a wildcard entry matches on a worker thread, so that typing
// in the fields of a large tree stays fluid. Requests are taken after a short
// pause in typing; only the result of the latest request is reported, so the
// count shown always belongs to the text now in the fields.
class TWildcardCounter : public QObject
{
    Q_OBJECT

public:
    explicit TWildcardCounter(QObject *parent = nullptr);
    ~TWildcardCounter() override;

    // Counts sEntry after the pause; an earlier request still waiting or
    // running is forgotten.
    void Request(const QString &sEntry);
    // Forgets every request.
    void Cancel();
    // Whether a request waits or runs.
    bool Busy() const { return FPending; }
    // The pause before counting; 0 counts at once.
    void SetDelay(int iMsecs) { FTimer.setInterval(iMsecs); }

Q_SIGNALS:
    void counted(const QString &sEntry, int iCount);

private:
    void Start();

    QTimer FTimer;
    QString FEntry;
    quint64 FGeneration = 0;
    bool FPending = false;
};

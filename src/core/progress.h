#pragma once

#include "core/sqlformat.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <initializer_list>

// One line of a delivery progress list. A line whose text begins with "!"
// reports a failure; the "!" is a marker that is not drawn but is saved.
struct TProgressLine
{
    QString sText;
    int iFlag = 0; // 1: a counter line that the next line replaces
    // What the line is about, for the window to act on: the path of a saved
    // archive, or the download link an e-mail carried. Never saved or printed.
    QString sTarget;
    enum TTargetKind { tkNone, tkFile, tkLink };
    int iTargetKind = tkNone;
};

// The progress list of a delivery: what the archive builder, the channels
// and the run report, line by line. The delivery window and the command
// line are two views of it (they listen to the signals). One thread only: a
// delivery job keeps one on its own thread and replays it on the owner's.
class TProgressList : public QObject
{
    Q_OBJECT

public:
    explicit TProgressList(QObject *parent = nullptr);

    // Appends a line, or replaces the last line when that is a counter line.
    void AddProgress(const QString &sLine) { AddLine(sLine, 0); }
    // The same with the new line's flag (1: a counter line), set before the
    // views hear of the line.
    void AddLine(const QString &sLine, int iFlag);
    // Appends a whole line, its target included (a job replays lines so).
    void AddLine(const TProgressLine &line);
    // A line about a file or a link (TProgressLine::sTarget).
    void AddTargetFmt(int iTargetKind, const QString &sTarget, const QString &sFormat,
                      std::initializer_list<TFmtArg> args);
    // The same with the program's "%s"/"%d" formatting.
    void AddProgressFmt(const QString &sFormat, std::initializer_list<TFmtArg> args);
    // "<name> progress: <count>" as a counter line.
    void ShowProgress(const QString &sName, qint64 iCount);

    const QList<TProgressLine> &Lines() const { return FLines; }
    // The first failure line from index iFrom on, without its "!" and the
    // blanks around it; empty when there is none.
    QString FailureSince(int iFrom) const;
    int Count() const { return int(FLines.size()); }
    void Clear();

    // The list as saved to a log file: every line as held (with its "!"
    // marker), each ended by CR LF.
    QString SaveText() const;

Q_SIGNALS:
    void lineAppended(int iIndex);
    void lineChanged(int iIndex);
    void cleared();

private:
    QList<TProgressLine> FLines;
};

// Hands every line appended to or changed in oSource to fnLine at once, on
// the list's thread: a job replays its own list on the owner's this way.
void ForwardLines(TProgressList &oSource, std::function<void(const TProgressLine &line)> fnLine);

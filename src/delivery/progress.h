#pragma once

#include "core/sqlformat.h"

#include <QList>
#include <QObject>
#include <QString>
#include <initializer_list>

// One line of a delivery progress list. A line whose text begins with "!"
// reports a failure; the "!" is a marker that is not drawn but is saved.
struct TProgressLine
{
    QString sText;
    int iFlag = 0; // 1: a counter line that the next line replaces
};

// The progress list of a delivery: what the archive builder, the channels
// and the run report, line by line. The delivery window and the command
// line are two views of it (they listen to the signals).
class TProgressList : public QObject
{
    Q_OBJECT

public:
    explicit TProgressList(QObject *parent = nullptr);

    // Appends a line, or replaces the last line when that is a counter line.
    // Pending events are then handled so that a view shows the line at once.
    void AddProgress(const QString &sLine);
    // The same with the program's "%s"/"%d" formatting.
    void AddProgressFmt(const QString &sFormat, std::initializer_list<TFmtArg> args);
    // "<name> progress: <count>" as a counter line.
    void ShowProgress(const QString &sName, qint64 iCount);

    const QList<TProgressLine> &Lines() const { return m_lines; }
    int Count() const { return int(m_lines.size()); }
    void Clear();

    // The list as saved to a log file: every line as held (with its "!"
    // marker), each ended by CR LF.
    QString SaveText() const;

    // Whether AddProgress handles pending events (off for the command line
    // and most tests, which have no window to keep responsive).
    void SetProcessEvents(bool bValue) { m_processEvents = bValue; }

Q_SIGNALS:
    void lineAppended(int iIndex);
    void lineChanged(int iIndex);
    void cleared();

private:
    QList<TProgressLine> m_lines;
    bool m_processEvents = true;
};

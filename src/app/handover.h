#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

// A second start of the desktop program hands over to the running one
// instead of opening a window of its own: it connects to the running
// instance's local socket in the user's private runtime folder and sends the
// files it was given (possibly none). The running instance brings its main
// window to the front and, for files, opens quick send with them.

// The socket's path: "bundlewick.socket" in the runtime folder
// ($XDG_RUNTIME_DIR, which only the user can enter).
QString HandOverSocketName();

// Hands over to the running instance: files (made absolute here, against
// this process's working folder) go to its quick send; with none, it only
// comes to the front. Waits up to iTimeoutMs for the running instance to
// confirm. False when no instance listens or it did not confirm in time.
bool HandOverToRunningInstance(const QStringList &files, int iTimeoutMs = 5000);

// The running instance's end: listens on HandOverSocketName() (replacing a
// socket left behind by a crashed run) and reports each hand-over.
class THandOverServer : public QObject
{
    Q_OBJECT

public:
    explicit THandOverServer(QObject *parent = nullptr);
    ~THandOverServer() override;

    // False, with the reason in ErrorText(), when the socket cannot be made;
    // the program runs on, later starts then show the usual message.
    bool Listen();
    QString ErrorText() const { return FError; }

Q_SIGNALS:
    // Another start asked to be handed over; files may be empty.
    void handedOver(const QStringList &files);

private:
    void Accept();
    void Read(QLocalSocket *socket);

    QLocalServer *FServer = nullptr;
    QString FError;
};

#include "app/handover.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

// Tells the message from whatever else might write to the socket.
constexpr quint32 kMagic = 0x42574831; // "BWH1"
constexpr char kAck = 'K';
constexpr qint64 kMaxMessage = 16 * 1024 * 1024;

} // namespace

QString HandOverSocketName()
{
    // Qt makes the folder with owner-only access when it has to make it.
    QString sDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (sDir.isEmpty())
        sDir = QDir::tempPath();
    return QDir(sDir).filePath(QStringLiteral("bundlewick.socket"));
}

bool HandOverToRunningInstance(const QStringList &files, int iTimeoutMs)
{
    QStringList absolute;
    for (const QString &sFile : files)
        absolute.append(QFileInfo(sFile).absoluteFilePath());
    // A separate process that has nothing else to do yet: blocking waits
    // are fine here.
    QLocalSocket socket;
    socket.connectToServer(HandOverSocketName());
    if (!socket.waitForConnected(iTimeoutMs))
        return false;
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_0);
        out << kMagic << absolute;
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(iTimeoutMs))
        return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(iTimeoutMs))
            return false;
    char cReply = 0;
    return socket.getChar(&cReply) && cReply == kAck;
}

THandOverServer::THandOverServer(QObject *parent)
    : QObject(parent)
    , FServer(new QLocalServer(this))
{
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &THandOverServer::Accept);
}

THandOverServer::~THandOverServer()
{
    FServer->close();
}

bool THandOverServer::Listen()
{
    const QString sName = HandOverSocketName();
    // The caller holds the single-instance lock: a socket that is there
    // belongs to a run that ended without removing it.
    QLocalServer::removeServer(sName);
    if (FServer->listen(sName))
        return true;
    FError = QStringLiteral("Cannot listen on \"%1\": %2").arg(sName, FServer->errorString());
    return false;
}

void THandOverServer::Accept()
{
    while (QLocalSocket *socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        if (socket->bytesAvailable() > 0)
            Read(socket);
    }
}

void THandOverServer::Read(QLocalSocket *socket)
{
    // Anything that does not begin as a hand-over does, or grows past any
    // list of files, is not one: turned away before it is read.
    if (socket->bytesAvailable() >= 4) {
        const QByteArray head = socket->peek(4);
        const quint32 magic = (quint32(quint8(head[0])) << 24) | (quint32(quint8(head[1])) << 16)
            | (quint32(quint8(head[2])) << 8) | quint32(quint8(head[3]));
        if (magic != kMagic || socket->bytesAvailable() > kMaxMessage) {
            socket->abort();
            return;
        }
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    QStringList files;
    in >> magic >> files;
    if (!in.commitTransaction())
        return; // the rest is still on its way
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    if (magic != kMagic) {
        socket->abort();
        return;
    }
    socket->putChar(kAck);
    socket->flush();
    Q_EMIT handedOver(files);
}

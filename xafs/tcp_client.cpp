#include "xafs/tcp_client.h"

#include "util/trace_log.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

TcpClient::TcpClient(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
    , reconnectTimer(new QTimer(this))
{
    reconnectTimer->setInterval(reconnectIntervalMs);
    connect(socket, &QTcpSocket::connected, this, &TcpClient::connected);
    connect(socket, &QTcpSocket::disconnected, this, &TcpClient::disconnected);
    connect(socket, &QTcpSocket::readyRead, this, &TcpClient::readyRead);
    connect(reconnectTimer, &QTimer::timeout, this, &TcpClient::tryReconnect);
}

TcpClient::~TcpClient()
{
    // The socket's own disconnected() must not reach a half-destroyed object.
    socket->disconnect(this);
    socket->abort();
}

void TcpClient::setHost(const QString &host, int port)
{
    hostName = host;
    portNo = port;
}

bool TcpClient::isRetrying() const { return reconnectTimer->isActive(); }

void TcpClient::doConnect()
{
    if (!wantConnected) {
        wantConnected = true;
        emit statChanged();
    }
    if (socket->state() == QAbstractSocket::ConnectedState) {
        // Already linked: keep the connection, but report the state again so
        // that the receivers can refresh (the link repeats its introduction).
        reconnectTimer->stop();
        emit statChanged();
        return;
    }
    // An attempt still pending from the previous second is replaced, so that a
    // lost SYN does not hold the link for the system's connect time-out.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    socket->connectToHost(
        hostName, quint16(portNo), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    // A refused or failed attempt never emits disconnected(), so the retry
    // clock is started here; connected() stops it.
    if (!reconnectTimer->isActive())
        reconnectTimer->start();
    qCDebug(vorloTrace) << "do connect" << hostName << portNo;
    emit statChanged();
}

void TcpClient::doDisconnect()
{
    if (wantConnected) {
        wantConnected = false;
        emit statChanged();
    }
    reconnectTimer->stop();
    if (isConnected)
        socket->close();
    else
        socket->abort();
}

void TcpClient::connected()
{
    reconnectTimer->stop();
    receiveBuffer.clear();
    discardingLine = false;
    if (!isConnected) {
        isConnected = true;
        emit statChanged();
    }
}

void TcpClient::disconnected()
{
    if (isConnected) {
        isConnected = false;
        emit statChanged();
    }
    if (wantConnected)
        reconnectTimer->start();
}

void TcpClient::tryReconnect()
{
    if (wantConnected && !isConnected) {
        doConnect();
    } else if (wantConnected) {
        reconnectTimer->stop();
        receiveBuffer.clear();
        discardingLine = false;
    } else {
        reconnectTimer->stop();
        if (isConnected)
            socket->close();
    }
}

void TcpClient::readyRead()
{
    // Read in bounded pieces so that one huge burst is never held at once.
    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = socket->read(chunk, sizeof chunk);
        if (got <= 0)
            break;
        qint64 pos = 0;
        while (pos < got) {
            const char *start = chunk + pos;
            const char *lf = static_cast<const char *>(memchr(start, '\n', size_t(got - pos)));
            const qint64 len = lf ? lf - start : got - pos;
            if (discardingLine) {
                if (lf)
                    discardingLine = false;
            } else if (receiveBuffer.size() + len > maxLineLength) {
                qDebug() << "rec: line longer than" << maxLineLength
                         << "bytes dropped up to its line feed";
                receiveBuffer.clear();
                discardingLine = lf == nullptr;
            } else {
                receiveBuffer.append(start, len);
                if (lf) {
                    const QByteArray line = receiveBuffer;
                    receiveBuffer.clear();
                    // A long line is shown by its start only; the log is for people.
                    if (line.size() > 200)
                        qDebug() << "rec:" << line.left(200) << "..." << line.size() << "bytes";
                    else
                        qDebug() << "rec:" << line;
                    if (!line.isEmpty())
                        emit receiveAnMsg(line);
                    // A receiver may have dropped the link meanwhile.
                    if (!isConnected && socket->state() != QAbstractSocket::ConnectedState)
                        return;
                }
            }
            pos += len + (lf ? 1 : 0);
        }
    }
}

void TcpClient::send(QString msg)
{
    if (!isConnected)
        return;
    qDebug() << "snd:" << msg;
    socket->write(msg.toLatin1());
}

#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// Line-oriented TCP client that keeps itself connected: once asked to connect
// it retries every reconnectIntervalMs until the peer answers, and again after
// a lost connection. Every change of the wanted or actual connection state
// emits statChanged(); every received non-empty line (line feed removed)
// emits receiveAnMsg(). Lives in the thread of its owner; no locks.
class TcpClient : public QObject {
    Q_OBJECT
public:
    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    void setHost(const QString &host, int port);
    QString host() const { return hostName; }
    int port() const { return portNo; }
    bool isWantConnected() const { return wantConnected; }
    bool isLinked() const { return isConnected; }
    bool isRetrying() const;
    int pendingBytes() const { return int(receiveBuffer.size()); }

    static constexpr int reconnectIntervalMs = 1000;
    // A peer that never sends a line feed must not make the buffer grow
    // without bound: a longer line is dropped up to its next line feed.
    static constexpr int maxLineLength = 1024 * 1024;

signals:
    void statChanged();
    void receiveAnMsg(QByteArray msg);

public slots:
    void doConnect();
    void doDisconnect();
    void send(QString msg);

private slots:
    void connected();
    void disconnected();
    void tryReconnect();
    void readyRead();

private:
    QTcpSocket *socket;
    QString hostName;
    int portNo = 0;
    bool wantConnected = false;
    bool isConnected = false;
    QTimer *reconnectTimer;
    QByteArray receiveBuffer;
    bool discardingLine = false; // inside an oversized line, skip to its line feed
};

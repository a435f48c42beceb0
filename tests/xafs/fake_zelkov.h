#pragma once
// A stand-in for the analysis program on 127.0.0.1: accepts one client at a
// time, records every line it receives and, when asked to, answers each
// request as the real program does (busy, then idle naming the command).
#include <QHostAddress>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class FakeZelkov : public QObject {
    Q_OBJECT
public:
    bool autoReply = false;
    QStringList lines; // every line received, line feed removed
    int connections = 0;

    bool listen(quint16 port = 0)
    {
        connect(
            &server, &QTcpServer::newConnection, this, &FakeZelkov::accept, Qt::UniqueConnection);
        return server.listen(QHostAddress::LocalHost, port);
    }
    quint16 port() const { return server.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1 %1").arg(port()); }
    bool hasClient() const { return client && client->state() == QAbstractSocket::ConnectedState; }

    // Requests only (the introduction left out).
    QStringList requests() const
    {
        QStringList r;
        for (const QString &l : lines)
            if (!l.startsWith(QLatin1String("myName")))
                r << l;
        return r;
    }
    int hellos() const { return int(lines.count(QStringLiteral("myName vorlo2"))); }

    void sendRaw(const QByteArray &bytes)
    {
        if (client) {
            client->write(bytes);
            client->flush();
        }
    }
    void stop()
    {
        server.close();
        if (client) {
            client->disconnectFromHost();
            if (client && client->state() != QAbstractSocket::UnconnectedState)
                client->abort();
        }
    }

signals:
    void lineReceived(QString line);

private slots:
    void accept()
    {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            if (client)
                client->deleteLater();
            client = s;
            ++connections;
            connect(s, &QTcpSocket::readyRead, this, &FakeZelkov::read);
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    }
    void read()
    {
        buffer += client->readAll();
        int lf;
        while ((lf = int(buffer.indexOf('\n'))) >= 0) {
            const QString line = QString::fromLatin1(buffer.left(lf));
            buffer.remove(0, lf + 1);
            lines << line;
            emit lineReceived(line);
            if (autoReply && !line.startsWith(QLatin1String("myName"))) {
                const QString cmd = line.section(QLatin1Char(' '), 0, 0);
                sendRaw("ISBUSY 1\n");
                sendRaw(QStringLiteral("ISBUSY 0 %1\n").arg(cmd).toLatin1());
            }
        }
    }

private:
    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray buffer;
};

#pragma once
#include "xafs/tcp_client.h"

#include <QPointer>
#include <QStringList>

class QAbstractButton;

// Client side of the line protocol of the 2-D XAFS analysis program Zelkov.
// Requests are paced: each one marks the link busy until Zelkov reports
// "ISBUSY 0 <command>"; a request while busy is not sent but refreshes the
// link state instead (introduction again, stale busy state cleared).
class ZelkovLink : public TcpClient {
    Q_OBJECT
public:
    // address: host and port separated by white space, e.g. "localhost 6078".
    explicit ZelkovLink(
        const QString &address = QStringLiteral("localhost 6078"), QObject *parent = nullptr);

    void setAddress(const QString &address);
    // Splits "host port"; the port is 0 when missing, not a number or out of
    // the 16-bit range.
    static void parseAddress(const QString &address, QString &host, int &port);

    // The button shows the link state by colour; a click connects (never
    // disconnects). The button is not owned.
    void setLinkButton(QAbstractButton *button);

    QString lastFinished() const { return lastFinishedCmd; }
    bool busy() const { return isBusy; }

    static const char *helloLine;
    static QString linkedStyle();
    static QString tryingStyle();
    static QString offStyle();

signals:
    void changedIsBusy(bool f);

public slots:
    void receiveAnMsg(QByteArray msg);
    void loadFilesOfPattern(QString path);
    void loadFiles(QStringList fileList);
    void exec2dA(QString sliceNo);

private slots:
    void statChanged();
    void setLinkButtonStyle();

private:
    bool beginRequest();
    static bool holdsLineBreak(const QString &s);
    // A path that the line encoding carries as it is, on one line; logged
    // (naming it) when not.
    static bool sendablePath(const QString &path);

    QString lastFinishedCmd;
    bool isBusy = false;
    QPointer<QAbstractButton> linkButton;
};

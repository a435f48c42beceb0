#include "xafs/zelkov_link.h"

#include "util/text_util.h"

#include <QAbstractButton>
#include <QDebug>

const char *ZelkovLink::helloLine = "myName vorlo2\n";

ZelkovLink::ZelkovLink(const QString &address, QObject *parent)
    : TcpClient(parent)
{
    setAddress(address);
    connect(this, &TcpClient::statChanged, this, &ZelkovLink::statChanged);
    connect(this, &TcpClient::receiveAnMsg, this, &ZelkovLink::receiveAnMsg);
}

void ZelkovLink::parseAddress(const QString &address, QString &host, int &port)
{
    QString portText;
    takeFirstItem(takeFirstItem(address, host), portText);
    bool ok = false;
    const int p = portText.toInt(&ok, 10);
    port = (ok && p >= 0 && p <= 65535) ? p : 0;
}

void ZelkovLink::setAddress(const QString &address)
{
    QString h;
    int p = 0;
    parseAddress(address, h, p);
    setHost(h, p);
}

QString ZelkovLink::linkedStyle()
{
    return QStringLiteral("background-color: rgb(211, 255, 241);");
}

QString ZelkovLink::tryingStyle()
{
    return QStringLiteral("background-color: rgb(255, 243, 162);");
}

QString ZelkovLink::offStyle() { return QStringLiteral("background-color: rgb(176, 192, 192);"); }

void ZelkovLink::setLinkButton(QAbstractButton *button)
{
    if (linkButton)
        disconnect(linkButton, nullptr, this, nullptr);
    linkButton = button;
    setLinkButtonStyle();
    if (button)
        connect(button, &QAbstractButton::clicked, this, &TcpClient::doConnect);
}

void ZelkovLink::setLinkButtonStyle()
{
    if (!linkButton)
        return;
    if (isLinked())
        linkButton->setStyleSheet(linkedStyle());
    else if (isWantConnected())
        linkButton->setStyleSheet(tryingStyle());
    else
        linkButton->setStyleSheet(offStyle());
}

void ZelkovLink::statChanged()
{
    if (isLinked()) {
        send(QString::fromLatin1(helloLine));
        if (isLinked() && isBusy) {
            isBusy = false;
            emit changedIsBusy(false);
        }
    }
    setLinkButtonStyle();
}

void ZelkovLink::receiveAnMsg(QByteArray msg)
{
    const QStringList items = QString::fromUtf8(msg).simplified().split(QLatin1Char(' '));
    if (items.size() < 2 || items[0].compare(QLatin1String("ISBUSY"), Qt::CaseInsensitive) != 0)
        return;
    bool ok = false;
    const bool nowBusy = items[1].toInt(&ok, 10) == 1 && ok;
    if (nowBusy || items.size() < 3)
        lastFinishedCmd.clear();
    else
        lastFinishedCmd = items[2].toUpper();
    if (nowBusy != isBusy) {
        isBusy = nowBusy;
        emit changedIsBusy(isBusy);
    }
}

bool ZelkovLink::holdsLineBreak(const QString &s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

bool ZelkovLink::sendablePath(const QString &path)
{
    // A line break in a path would smuggle a second command onto the wire.
    if (holdsLineBreak(path)) {
        qDebug() << "Line break in a path, not sent to Zelkov : " << path;
        return false;
    }
    // Lines go out as Latin-1: any other character would arrive as "?" and
    // name another path, or none.
    for (const QChar c : path) {
        if (c.unicode() > 0xff) {
            qDebug().noquote() << QString(
                "Path not expressible in Latin-1, not sent to Zelkov : \"%1\"")
                                      .arg(path);
            return false;
        }
    }
    return true;
}

bool ZelkovLink::beginRequest()
{
    if (isBusy) {
        statChanged();
        return false;
    }
    isBusy = true;
    emit changedIsBusy(true);
    return true;
}

void ZelkovLink::loadFilesOfPattern(QString path)
{
    if (!sendablePath(path))
        return;
    if (!beginRequest())
        return;
    send(QStringLiteral("%1 new %2 *.dat\n").arg(QLatin1String("LOAD_I1_FILES_OF_PATTERN"), path));
}

void ZelkovLink::loadFiles(QStringList fileList)
{
    for (const QString &f : fileList) {
        if (!sendablePath(f))
            return;
    }
    if (fileList.isEmpty()) {
        statChanged();
        return;
    }
    if (!beginRequest())
        return;
    send(QStringLiteral("%1 new %2\n")
             .arg(QLatin1String("LOAD_I1_FILES"), fileList.join(QLatin1Char(' '))));
}

void ZelkovLink::exec2dA(QString sliceNo)
{
    if (holdsLineBreak(sliceNo)) {
        qDebug() << "Line break in a slice number, not sent to Zelkov : " << sliceNo;
        return;
    }
    if (!beginRequest())
        return;
    send(QStringLiteral("%1 %2\n").arg(QLatin1String("ANALYZER_EXEC_2DA"), sliceNo));
}

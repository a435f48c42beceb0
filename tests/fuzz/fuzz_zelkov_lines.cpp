// The analyser link's receiving side over a real loopback connection: the
// peer sends the input bytes, the client must deliver exactly the non-empty
// lines of the stream (line feeds removed), whatever their content, and the
// ISBUSY replies among them must leave a consistent busy state.
#include "tests/fuzz/fuzz_support.h"

#include "xafs/zelkov_link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

struct Link {
    QTcpServer server;
    QTcpSocket *peer = nullptr;
    ZelkovLink *link = nullptr;
    std::vector<QByteArray> got;
};

Link *theLink = nullptr;

bool pumpUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    theLink = new Link;
    FUZZ_CHECK(theLink->server.listen(QHostAddress::LocalHost, 0));
    theLink->link
        = new ZelkovLink(QStringLiteral("127.0.0.1 %1").arg(theLink->server.serverPort()));
    QObject::connect(theLink->link, &TcpClient::receiveAnMsg, theLink->link,
        [](const QByteArray &line) { theLink->got.push_back(line); });
    theLink->link->doConnect();
    FUZZ_CHECK(pumpUntil([] { return theLink->server.hasPendingConnections(); }));
    theLink->peer = theLink->server.nextPendingConnection();
    FUZZ_CHECK(pumpUntil([] { return theLink->link->isLinked(); }));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Link &l = *theLink;
    l.got.clear();
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray end("ISBUSY 0 FUZZEND");

    std::vector<QByteArray> want;
    for (const QByteArray &line : (input + '\n').split('\n'))
        if (!line.isEmpty() && line.size() <= TcpClient::maxLineLength)
            want.push_back(line);
    want.push_back(end);

    // Sent in pieces of varying length, so that lines cross the reads.
    qsizetype pos = 0;
    for (int k = 1; pos < input.size(); ++k) {
        const qsizetype n = std::min<qsizetype>(input.size() - pos, 1 + (k * 37) % 97);
        l.peer->write(input.constData() + pos, n);
        l.peer->flush();
        pos += n;
        QCoreApplication::processEvents();
    }
    l.peer->write("\n" + end + "\n");
    l.peer->flush();
    FUZZ_CHECK(pumpUntil([&] { return l.got.size() >= want.size(); }));
    QCoreApplication::processEvents();
    FUZZ_CHECK(l.got == want);
    FUZZ_CHECK(!l.link->busy());
    FUZZ_CHECK(l.link->lastFinished() == QLatin1String("FUZZEND"));
    FUZZ_CHECK(l.link->pendingBytes() == 0);
    // Whatever the peer said, the link is still up and answers requests.
    FUZZ_CHECK(l.link->isLinked());
    // The hello and any re-introduction the link sent are read away.
    l.peer->readAll();
    return 0;
}

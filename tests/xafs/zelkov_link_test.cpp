#include "tests/test_registry.h"
#include "tests/xafs/fake_zelkov.h"
#include "xafs/zelkov_link.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {
// Counts debug lines that match a pattern while installed.
struct LogCounter {
    static inline QRegularExpression pattern;
    static inline int count = 0;
    static inline QtMessageHandler previous = nullptr;
    explicit LogCounter(const QString &re)
    {
        pattern = QRegularExpression(re);
        count = 0;
        previous = qInstallMessageHandler(handler);
    }
    ~LogCounter() { qInstallMessageHandler(previous); }
    static void handler(QtMsgType t, const QMessageLogContext &c, const QString &m)
    {
        if (pattern.match(m).hasMatch())
            ++count;
        else if (previous)
            previous(t, c, m);
    }
};

quint16 unusedPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort(); // closed again when s goes out of scope
}
} // namespace

class ZelkovLinkTest : public QObject {
    Q_OBJECT
private slots:
    void address_data();
    void address();
    void busyReports_data();
    void busyReports();
    void helloOnEveryStateChange();
    void buttonColours();
    void pacingOneRequestAtATime();
    void requestLines();
    void linesSplitAndMerged();
    void oversizedLineDropped();
    void reconnectsAfterServerRestart();
    void noServerKeepsTrying();
    void disconnectStopsRetrying();
};

void ZelkovLinkTest::address_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("default") << "localhost 6078"
                             << "localhost" << 6078;
    QTest::newRow("blanks and tabs") << "  10.0.0.5 \t 7001  "
                                     << "10.0.0.5" << 7001;
    QTest::newRow("host without port") << "zelkov-pc"
                                       << "zelkov-pc" << 0;
    QTest::newRow("port not a number") << "zelkov-pc port"
                                       << "zelkov-pc" << 0;
    QTest::newRow("port beyond 16 bits") << "zelkov-pc 70000"
                                         << "zelkov-pc" << 0;
    QTest::newRow("negative port") << "zelkov-pc -5"
                                   << "zelkov-pc" << 0;
    QTest::newRow("empty") << ""
                           << "" << 0;
}

void ZelkovLinkTest::address()
{
    QFETCH(QString, value);
    QFETCH(QString, host);
    QFETCH(int, port);
    ZelkovLink link(value);
    QCOMPARE(link.host(), host);
    QCOMPARE(link.port(), port);
}

void ZelkovLinkTest::busyReports_data()
{
    QTest::addColumn<bool>("busyBefore");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("busyAfter");
    QTest::addColumn<QString>("lastFinished");
    QTest::addColumn<int>("changes");

    QTest::newRow("idle naming a command, any case")
        << true << QByteArray("isbusy 0 load_i1_files") << false << "LOAD_I1_FILES" << 1;
    QTest::newRow("busy empties the command")
        << false << QByteArray("ISBUSY 1 LOAD_I1_FILES") << true << "" << 1;
    QTest::newRow("idle without a command") << true << QByteArray("ISBUSY 0") << false << "" << 1;
    QTest::newRow("any value but 1 is idle")
        << true << QByteArray("IsBusy 2 ANALYZER_EXEC_2DA") << false << "ANALYZER_EXEC_2DA" << 1;
    QTest::newRow("not a number is idle") << true << QByteArray("ISBUSY x") << false << "" << 1;
    QTest::newRow("idle again: no change signal")
        << false << QByteArray("ISBUSY 0 ANALYZER_EXEC_2DA") << false << "ANALYZER_EXEC_2DA" << 0;
    QTest::newRow("carriage return and blanks")
        << true << QByteArray("  ISBUSY \t 0   load_i1_files_of_pattern \r") << false
        << "LOAD_I1_FILES_OF_PATTERN" << 1;
    QTest::newRow("word alone ignored") << false << QByteArray("ISBUSY") << false << "KEEP" << 0;
    QTest::newRow("other line ignored") << false << QByteArray("HELLO 1 X") << false << "KEEP" << 0;
    QTest::newRow("word must stand alone")
        << false << QByteArray("ISBUSYX 1 A") << false << "KEEP" << 0;
}

void ZelkovLinkTest::busyReports()
{
    QFETCH(bool, busyBefore);
    QFETCH(QByteArray, line);
    QFETCH(bool, busyAfter);
    QFETCH(QString, lastFinished);
    QFETCH(int, changes);

    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    // Put the link into a known state through the protocol itself.
    link.receiveAnMsg("ISBUSY 1");
    if (!busyBefore)
        link.receiveAnMsg("ISBUSY 0 KEEP");
    QCOMPARE(link.busy(), busyBefore);
    QCOMPARE(link.lastFinished(), busyBefore ? QString() : QStringLiteral("KEEP"));

    QSignalSpy spy(&link, &ZelkovLink::changedIsBusy);
    link.receiveAnMsg(line);
    QCOMPARE(link.busy(), busyAfter);
    QCOMPARE(link.lastFinished(), lastFinished);
    QCOMPARE(spy.count(), changes);
    if (changes)
        QCOMPARE(spy.first().first().toBool(), busyAfter);
}

void ZelkovLinkTest::helloOnEveryStateChange()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    ZelkovLink link(zel.address());
    QSignalSpy busy(&link, &ZelkovLink::changedIsBusy);

    // A request before the link is up marks it busy although nothing is sent.
    link.exec2dA(QStringLiteral("00001"));
    QVERIFY(link.busy());

    link.doConnect();
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 1, 3000);
    // The state change on connecting cleared the stale busy mark.
    QVERIFY(!link.busy());
    QCOMPARE(busy.count(), 2);
    QVERIFY(zel.requests().isEmpty());

    // Another click on the link button while linked keeps the link and
    // clears a busy mark that Zelkov never took back.
    zel.sendRaw("ISBUSY 1\n");
    QTRY_VERIFY_WITH_TIMEOUT(link.busy(), 3000);
    link.doConnect();
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 2, 3000);
    QVERIFY(!link.busy());
    QVERIFY(link.isLinked());
    QCOMPARE(zel.connections, 1);
    link.doDisconnect();
    QVERIFY(!link.isWantConnected());
}

void ZelkovLinkTest::buttonColours()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    ZelkovLink link(zel.address());
    QPushButton button(QStringLiteral("Link 2dZelkov"));
    link.setLinkButton(&button);
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(176, 192, 192);"));

    button.click(); // clicking connects
    QVERIFY(link.isWantConnected());
    if (!link.isLinked())
        QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(255, 243, 162);"));
    QTRY_VERIFY_WITH_TIMEOUT(link.isLinked(), 3000);
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(211, 255, 241);"));

    zel.stop(); // peer gone: trying again
    QTRY_VERIFY_WITH_TIMEOUT(!link.isLinked(), 3000);
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(255, 243, 162);"));

    button.click(); // clicking never disconnects
    QVERIFY(link.isWantConnected());
    link.doDisconnect();
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(176, 192, 192);"));
}

void ZelkovLinkTest::pacingOneRequestAtATime()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    ZelkovLink link(zel.address());
    link.doConnect();
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 1, 3000);

    QSignalSpy busy(&link, &ZelkovLink::changedIsBusy);
    link.loadFiles({ QStringLiteral("/d/a-00100.dat") });
    QCOMPARE(busy.count(), 1);
    QCOMPARE(busy.last().first().toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(zel.requests().size(), 1, 3000);

    // While the first is pending, a second request is not sent; it repeats
    // the introduction instead, which (linked) clears the busy mark.
    link.exec2dA(QStringLiteral("00100"));
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 2, 3000);
    QCOMPARE(zel.requests().size(), 1);
    QVERIFY(!link.busy());

    // Zelkov's own report makes it busy, and the next request waits again.
    zel.sendRaw("ISBUSY 1 \n");
    QTRY_VERIFY_WITH_TIMEOUT(link.busy(), 3000);
    link.exec2dA(QStringLiteral("00100"));
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 3, 3000);
    QCOMPARE(zel.requests().size(), 1);

    zel.sendRaw("ISBUSY 0 LOAD_I1_FILES\n");
    QTRY_COMPARE_WITH_TIMEOUT(link.lastFinished(), QStringLiteral("LOAD_I1_FILES"), 3000);
    QVERIFY(!link.busy());
    link.exec2dA(QStringLiteral("00100"));
    QTRY_COMPARE_WITH_TIMEOUT(zel.requests().size(), 2, 3000);
    QCOMPARE(zel.requests().last(), QStringLiteral("ANALYZER_EXEC_2DA 00100"));
    link.doDisconnect();
}

void ZelkovLinkTest::requestLines()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    zel.autoReply = true;
    ZelkovLink link(zel.address());
    link.doConnect();
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 1, 3000);

    auto next = [&](int n) { QTRY_COMPARE_WITH_TIMEOUT(zel.requests().size(), n, 3000); };
    link.loadFilesOfPattern(QStringLiteral("/res/00100/"));
    next(1);
    QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 3000);
    link.loadFiles({ QStringLiteral("/r/a-00100.dat"), QStringLiteral("/r/b-00100.dat") });
    next(2);
    QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 3000);
    link.exec2dA(QStringLiteral("00105"));
    next(3);
    QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 3000);
    // Latin-1 beyond ASCII goes out as it is.
    link.loadFiles({ QString::fromUtf8("/r/\xc3\xa9t\xc3\xa9-00100.dat") });
    next(4);
    QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 3000);

    const QStringList r = zel.requests();
    QCOMPARE(r[0], QStringLiteral("LOAD_I1_FILES_OF_PATTERN new /res/00100/ *.dat"));
    QCOMPARE(r[1], QStringLiteral("LOAD_I1_FILES new /r/a-00100.dat /r/b-00100.dat"));
    QCOMPARE(r[2], QStringLiteral("ANALYZER_EXEC_2DA 00105"));
    QCOMPARE(r[3], QString::fromUtf8("LOAD_I1_FILES new /r/\xc3\xa9t\xc3\xa9-00100.dat"));

    // Refused: an empty list, and paths that would put a second command
    // onto the wire.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Line break in a path"));
    link.loadFiles({ QStringLiteral("/r/x.dat\nANALYZER_EXEC_2DA 00001") });
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Line break in a path"));
    link.loadFilesOfPattern(QStringLiteral("/r/\r\nX"));
    // Paths that Latin-1 cannot carry (a folder named in Japanese) would
    // arrive as "??", another path: logged with the path and not sent, the
    // whole request skipped.
    const QString japanese = QString::fromUtf8("/r/\xe6\x97\xa5\xe6\x9c\xac/");
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression("^Path not expressible in Latin-1, not sent to Zelkov :.*"
            + QRegularExpression::escape(japanese)));
    link.loadFilesOfPattern(japanese);
    QTest::ignoreMessage(QtDebugMsg,
        QRegularExpression("^Path not expressible in Latin-1, not sent to Zelkov :.*"
            + QRegularExpression::escape(japanese + "b-00100.dat")));
    link.loadFiles({ QStringLiteral("/r/a-00100.dat"), japanese + "b-00100.dat" });
    QVERIFY(!link.busy());
    link.loadFiles({});
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 2, 3000); // the empty list refreshes the state
    QCOMPARE(zel.requests().size(), 4);
    QVERIFY(!link.busy());
    link.doDisconnect();
}

void ZelkovLinkTest::linesSplitAndMerged()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    ZelkovLink link(zel.address());
    QSignalSpy msgs(&link, &TcpClient::receiveAnMsg);
    link.doConnect();
    QTRY_VERIFY_WITH_TIMEOUT(zel.hasClient() && link.isLinked(), 3000);

    zel.sendRaw("ISBUSY 1\nISBUSY 0 LOAD_I1_FILES\n"); // two in one read
    QTRY_COMPARE_WITH_TIMEOUT(msgs.count(), 2, 3000);
    QCOMPARE(msgs[0].first().toByteArray(), QByteArray("ISBUSY 1"));
    QCOMPARE(msgs[1].first().toByteArray(), QByteArray("ISBUSY 0 LOAD_I1_FILES"));
    QCOMPARE(link.lastFinished(), QStringLiteral("LOAD_I1_FILES"));

    zel.sendRaw("ISBU"); // one over three reads
    QTest::qWait(50);
    zel.sendRaw("SY 0 ANALY");
    QTest::qWait(50);
    QCOMPARE(msgs.count(), 2);
    QVERIFY(link.pendingBytes() > 0);
    zel.sendRaw("ZER_EXEC_2DA\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(msgs.count(), 3, 3000);
    QCOMPARE(msgs[2].first().toByteArray(), QByteArray("ISBUSY 0 ANALYZER_EXEC_2DA\r"));
    QCOMPARE(link.lastFinished(), QStringLiteral("ANALYZER_EXEC_2DA"));

    zel.sendRaw("\n\nISBUSY 1\n\n"); // empty lines give nothing
    QTRY_COMPARE_WITH_TIMEOUT(msgs.count(), 4, 3000);
    QTest::qWait(50);
    QCOMPARE(msgs.count(), 4);
    QCOMPARE(link.pendingBytes(), 0);
    link.doDisconnect();
}

void ZelkovLinkTest::oversizedLineDropped()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    ZelkovLink link(zel.address());
    QSignalSpy msgs(&link, &TcpClient::receiveAnMsg);
    link.doConnect();
    QTRY_VERIFY_WITH_TIMEOUT(zel.hasClient() && link.isLinked(), 3000);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("line longer than"));
    const QByteArray junk(256 * 1024, 'x');
    for (int i = 0; i < 6; ++i) { // 1.5 MiB without a line feed
        zel.sendRaw(junk);
        QTest::qWait(20);
        QVERIFY(link.pendingBytes() <= TcpClient::maxLineLength);
    }
    zel.sendRaw("tail of the long line\nISBUSY 1\n");
    QTRY_COMPARE_WITH_TIMEOUT(msgs.count(), 1, 3000);
    QCOMPARE(msgs[0].first().toByteArray(), QByteArray("ISBUSY 1"));
    QVERIFY(link.busy());
    QVERIFY(link.isLinked());

    // A line of exactly the bound still passes.
    QByteArray big(TcpClient::maxLineLength, 'y');
    big += '\n';
    zel.sendRaw(big);
    QTRY_COMPARE_WITH_TIMEOUT(msgs.count(), 2, 5000);
    QCOMPARE(msgs[1].first().toByteArray().size(), TcpClient::maxLineLength);
    link.doDisconnect();
}

void ZelkovLinkTest::reconnectsAfterServerRestart()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    const quint16 port = zel.port();
    ZelkovLink link(zel.address());
    link.doConnect();
    QTRY_COMPARE_WITH_TIMEOUT(zel.hellos(), 1, 3000);

    zel.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!link.isLinked(), 3000);
    QVERIFY(link.isWantConnected());
    QVERIFY(link.isRetrying());

    FakeZelkov again;
    QVERIFY(again.listen(port));
    // Attempts come every second, so the link is back well within two.
    QTRY_VERIFY_WITH_TIMEOUT(link.isLinked(), 2500);
    QTRY_COMPARE_WITH_TIMEOUT(again.hellos(), 1, 1000);
    QVERIFY(!link.isRetrying());
    link.doDisconnect();
}

void ZelkovLinkTest::noServerKeepsTrying()
{
    const quint16 port = unusedPort();
    ZelkovLink link(QStringLiteral("127.0.0.1 %1").arg(port));
    QPushButton button;
    link.setLinkButton(&button);
    LogCounter attempts(QStringLiteral("^do connect"));
    link.doConnect();
    QTest::qWait(2600);
    QVERIFY(!link.isLinked());
    QVERIFY(link.isWantConnected());
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(255, 243, 162);"));
    // The first attempt and one per second after it (a loaded machine may
    // let one timer tick slip).
    QVERIFY2(
        attempts.count >= 2 && attempts.count <= 4, qPrintable(QString::number(attempts.count)));

    // Requests are dropped, but mark the link busy until it is up.
    link.exec2dA(QStringLiteral("00001"));
    QVERIFY(link.busy());

    FakeZelkov late;
    QVERIFY(late.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(link.isLinked(), 2500);
    QVERIFY(!link.busy());
    QCOMPARE(button.styleSheet(), QStringLiteral("background-color: rgb(211, 255, 241);"));
    QTRY_COMPARE_WITH_TIMEOUT(late.hellos(), 1, 1000);
    QVERIFY(late.requests().isEmpty());
    link.doDisconnect();
}

void ZelkovLinkTest::disconnectStopsRetrying()
{
    const quint16 port = unusedPort();
    ZelkovLink link(QStringLiteral("127.0.0.1 %1").arg(port));
    link.doConnect();
    QVERIFY(link.isRetrying());
    link.doDisconnect();
    QVERIFY(!link.isRetrying());
    FakeZelkov zel;
    QVERIFY(zel.listen(port));
    QTest::qWait(1300);
    QCOMPARE(zel.connections, 0);
    QVERIFY(!link.isLinked());
}

VORLO_TEST(ZelkovLinkTest)
#include "zelkov_link_test.moc"

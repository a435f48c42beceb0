#include "app/batch.h"
#include "tests/test_registry.h"
#include "util/tsan_handoff.h"

#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

void collectLog(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    {
        QMutexLocker lock(&logMutex);
        logLines << msg;
    }
    if (type != QtDebugMsg && previousHandler)
        previousHandler(type, ctx, msg);
}

bool logHas(const QString &line)
{
    QMutexLocker lock(&logMutex);
    return logLines.contains(line);
}

QStringList takeLog()
{
    QMutexLocker lock(&logMutex);
    QStringList l = logLines;
    logLines.clear();
    return l;
}

} // namespace

// Plays the main window: executes nothing, records every command it is sent
// and answers the end of each, except "calc_exec", which it answers only when
// the test finishes the "calculation".
class FakeBody : public QObject {
    Q_OBJECT
public:
    Batch *batch = nullptr;
    QStringList received; // command word, then the arguments, joined by '|'
    QList<bool> nextExists; // answers to "seq_exec_next", in turn
    bool answer = true; // false: hold every answer until answerNow()

    void answerNow() { emit callBatchCheckEnd(); }

signals:
    void callBatchLoad(QString fname);
    void callBatchExec();
    void callBatchCheckEnd();
    void commandSeen(QString cmd);

public slots:
    void batchExCmd(BatchCmd cmd)
    {
        Q_ASSERT(QThread::currentThread() == thread());
        received << (QStringList { cmd.cmd } + cmd.args).join('|');
        if (cmd.matches("seq_exec_next"))
            batch->setOk(nextExists.isEmpty() ? true : nextExists.takeFirst());
        emit commandSeen(cmd.cmd);
        if (answer && !cmd.matches("calc_exec"))
            emit callBatchCheckEnd();
    }
};

class TestBatch : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadKeepsCommandsAndJoinsContinuedLines();
    void loadFailureKeepsLines();
    void waitsForEachCommand();
    void conditionsAfterSeqExecNext();
    void conditionsIgnoreLetterCase();
    void gotoLabelsAreCaseSensitive();
    void echoAndCommandLog();
    void endAndStop();
    void secondStartStops();
    void restartTakesOneStepAtATime();
    void controlLoopCanBeStopped();
    void calcExecWaitsForTheCalculation();
    void emptyBatchStopsAtOnce();

private:
    QString writeBatch(const QString &text);
    void loadAndRun(const QString &text);
    bool running();
    QStringList lines();

    std::unique_ptr<QTemporaryDir> tmp;
    QThread *thread = nullptr;
    Batch *batch = nullptr;
    std::unique_ptr<FakeBody> body;
};

void TestBatch::init()
{
    tmp = std::make_unique<QTemporaryDir>();
    takeLog();
    previousHandler = qInstallMessageHandler(collectLog);

    thread = new QThread;
    batch = new Batch;
    batch->moveToThread(thread);
    thread->start();
    releaseAtThreadEnd(thread);

    body = std::make_unique<FakeBody>();
    body->batch = batch;
    connect(body.get(), &FakeBody::callBatchLoad, batch, &Batch::batchLoad);
    connect(body.get(), &FakeBody::callBatchExec, batch, &Batch::batchExec);
    connect(body.get(), &FakeBody::callBatchCheckEnd, batch, &Batch::batchCheckEnd);
    connect(batch, &Batch::batchExCmd, body.get(), &FakeBody::batchExCmd);
}

void TestBatch::cleanup()
{
    thread->quit();
    waitForThreadEnd(thread);
    delete batch;
    delete thread;
    body.reset();
    qInstallMessageHandler(previousHandler);
    tmp.reset();
}

QString TestBatch::writeBatch(const QString &text)
{
    const QString path = tmp->filePath("run.bat");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Text))
        f.write(text.toUtf8());
    return path;
}

// Loads and starts a batch the way the main window does: two queued calls.
void TestBatch::loadAndRun(const QString &text)
{
    emit body->callBatchLoad(writeBatch(text));
    emit body->callBatchExec();
}

bool TestBatch::running()
{
    // Read in the batch's thread, after every call queued to it so far.
    Batch *b = batch;
    return callInThread(thread, [b] { return b->isRunning(); });
}

QStringList TestBatch::lines()
{
    Batch *b = batch;
    return callInThread(thread, [b] { return b->loadedLines(); });
}

void TestBatch::loadKeepsCommandsAndJoinsContinuedLines()
{
    emit body->callBatchLoad(writeBatch("# header comment\n"
                                        "ct_cor 1000 # centre\n"
                                        "\n"
                                        "   \n"
                                        "images_load \"D:/a # b\" *.img\n"
                                        "auto_save_image_path \\\n"
                                        "  D:/out\n"
                                        "a \\\n"
                                        "b \\\n"
                                        "c\n"
                                        "last \\"));
    QCOMPARE(lines(),
        QStringList({ "ct_cor 1000 ", "   ", "images_load \"D:/a # b\" *.img",
            "auto_save_image_path    D:/out", "a  b  c", "last " }));
    QVERIFY(!running());
}

void TestBatch::loadFailureKeepsLines()
{
    emit body->callBatchLoad(writeBatch("one\ntwo\n"));
    QCOMPARE(lines().size(), 2);
    const QString missing = tmp->filePath("missing.bat");
    emit body->callBatchLoad(missing);
    QCOMPARE(lines(), QStringList({ "one", "two" }));
    QVERIFY(takeLog().contains("Can't open batch file \"" + missing + "\""));
}

void TestBatch::waitsForEachCommand()
{
    body->answer = false;
    QSignalSpy seen(body.get(), &FakeBody::commandSeen);
    loadAndRun("first 1\n  \nthird \"x y\"\n");

    QVERIFY(seen.wait());
    QTest::qWait(100);
    QCOMPARE(body->received, QStringList({ "first|1" }));
    QVERIFY(running());

    body->answerNow();
    QVERIFY(seen.wait());
    QCOMPARE(body->received, QStringList({ "first|1", "" })); // a line of blanks goes on too
    body->answerNow();
    QVERIFY(seen.wait());
    QCOMPARE(body->received.last(), QString("third|x y"));
    body->answerNow();
    QTRY_VERIFY(!running());
    QCOMPARE(body->received.size(), 3);
}

void TestBatch::conditionsAfterSeqExecNext()
{
    // The last set was already current: the condition ends the batch.
    body->nextExists = { false };
    loadAndRun("seq_exec_next\n:ifng :end\nafter\n");
    QTRY_VERIFY(!running());
    QCOMPARE(body->received, QStringList({ "seq_exec_next" }));

    // A next set existed: ":ifng" is sent on unchanged and the batch goes on.
    body->received.clear();
    body->nextExists = { true };
    emit body->callBatchExec();
    QTRY_COMPARE(body->received.size(), 3);
    QCOMPARE(body->received, QStringList({ "seq_exec_next", ":ifng|:end", "after" }));
    QTRY_VERIFY(!running());

    // Any command in between resets the result to true.
    body->received.clear();
    body->nextExists = { false };
    loadAndRun("seq_exec_next\nct_cor 5\n:ifng :end\n:ifok after\n");
    QTRY_COMPARE(body->received.size(), 4);
    QCOMPARE(body->received, QStringList({ "seq_exec_next", "ct_cor|5", ":ifng|:end", "after" }));

    // ":ifok" takes the rest of the line as the command, re-parsed after
    // joining, so a quoted path keeps only its first word.
    body->received.clear();
    loadAndRun(":ifok auto_save_image_path \"D:/my data\"\n");
    QTRY_COMPARE(body->received.size(), 1);
    QCOMPARE(body->received.first(), QString("auto_save_image_path|D:/my|data"));
}

void TestBatch::conditionsIgnoreLetterCase()
{
    body->nextExists = { false, false };
    loadAndRun(":IFOK ct_cor 1000\nseq_exec_next\n:IfNg :ECHO was last\nSEQ_EXEC_NEXT\n"
               ":ifNG :Stop\nnever\n");
    QTRY_VERIFY(!running());
    QCOMPARE(body->received, QStringList({ "ct_cor|1000", "seq_exec_next", "SEQ_EXEC_NEXT" }));
    QVERIFY(takeLog().contains("\":ECHO was last\""));
}

void TestBatch::gotoLabelsAreCaseSensitive()
{
    loadAndRun(":goto Skip\nskipped\nskip\nSkip\n:goto top\nTop\ndone\n");
    QTRY_VERIFY(!running());
    // "Skip" is found exactly; "top" does not find "Top", so the line after
    // the :goto follows. Label lines are sent like commands.
    QCOMPARE(body->received, QStringList({ "Skip", "Top", "done" }));

    // A loop through a label runs until something ends it.
    body->received.clear();
    body->nextExists = { true, true, false };
    loadAndRun("Loop\nseq_exec_next\n:ifng :goto Out\n:goto Loop\nOut\n");
    QTRY_VERIFY(!running());
    QCOMPARE(body->received,
        QStringList({ "Loop", "seq_exec_next", ":ifng|:goto|Out", "Loop", "seq_exec_next",
            ":ifng|:goto|Out", "Loop", "seq_exec_next", "Out" }));
}

void TestBatch::echoAndCommandLog()
{
    loadAndRun(":echo hello world\nct_cor 1\n");
    QTRY_VERIFY(!running());
    const QStringList log = takeLog();
    QCOMPARE(log, QStringList({ "cmd \":echo\"", "\":echo hello world\"", "cmd \"ct_cor\"" }));
    QCOMPARE(body->received, QStringList({ "ct_cor|1" }));
}

void TestBatch::endAndStop()
{
    loadAndRun("a\n:END\nb\n");
    QTRY_VERIFY(!running());
    QTest::qWait(50);
    QCOMPARE(body->received, QStringList({ "a" }));

    body->received.clear();
    loadAndRun("a\n:stop now\nb\n");
    QTRY_VERIFY(!running());
    QCOMPARE(body->received, QStringList({ "a" }));

    // A restart begins from the first line again.
    body->received.clear();
    emit body->callBatchExec();
    QTRY_VERIFY(!running());
    QCOMPARE(body->received, QStringList({ "a" }));
}

void TestBatch::secondStartStops()
{
    body->answer = false;
    QSignalSpy seen(body.get(), &FakeBody::commandSeen);
    loadAndRun("a\nb\nc\n");
    QVERIFY(seen.wait());
    emit body->callBatchExec(); // stops after the command in progress
    QTRY_VERIFY(!running());
    body->answerNow();
    QTest::qWait(100);
    QCOMPARE(body->received, QStringList({ "a" }));
}

void TestBatch::restartTakesOneStepAtATime()
{
    // In one thread, so that the order of events is fixed: the batch is
    // restarted and a stale answer of the stopped run comes in before the
    // first step has run. Only one command may be outstanding afterwards.
    Batch local;
    QStringList sent;
    connect(&local, &Batch::batchExCmd, this, [&](const BatchCmd &c) { sent << c.cmd; });
    local.batchLoad(writeBatch("a\nb\nc\n"));
    local.batchExec();
    local.batchCheckEnd();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(sent, QStringList({ "a" }));
    local.batchCheckEnd();
    QCoreApplication::processEvents();
    QCOMPARE(sent, QStringList({ "a", "b" }));
}

void TestBatch::controlLoopCanBeStopped()
{
    // ":goto :goto" finds itself: a loop that sends no command at all.
    loadAndRun(":echo round\n:goto :echo\n");
    QTRY_VERIFY(logHas("\":echo round\""));
    QTest::qWait(50);
    QVERIFY(running());
    emit body->callBatchExec();
    QTRY_VERIFY(!running());

    loadAndRun(":goto :goto\n");
    QTest::qWait(50);
    QVERIFY(running());
    emit body->callBatchExec();
    QTRY_VERIFY(!running());
    QVERIFY(body->received.isEmpty());
}

void TestBatch::calcExecWaitsForTheCalculation()
{
    QSignalSpy seen(body.get(), &FakeBody::commandSeen);
    loadAndRun("calc_exec\nauto_save_image 1\n");
    QVERIFY(seen.wait());
    QTest::qWait(150);
    QCOMPARE(body->received, QStringList({ "calc_exec" }));
    QVERIFY(running());
    body->answerNow(); // the calculation has ended
    QVERIFY(seen.wait());
    QCOMPARE(body->received, QStringList({ "calc_exec", "auto_save_image|1" }));
    QTRY_VERIFY(!running());
}

void TestBatch::emptyBatchStopsAtOnce()
{
    emit body->callBatchExec(); // "-x" without "-b"
    QTRY_VERIFY(!running());
    emit body->callBatchLoad(writeBatch("# nothing but comments\n\n"));
    emit body->callBatchExec();
    QTRY_VERIFY(!running());
    body->answerNow(); // an answer with nothing loaded changes nothing
    QVERIFY(!running());
    QVERIFY(body->received.isEmpty());
}

VORLO_TEST(TestBatch)
#include "test_batch.moc"

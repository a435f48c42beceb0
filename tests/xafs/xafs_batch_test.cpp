#include "tests/test_registry.h"
#include "util/tsan_handoff.h"
#include "xafs/xafs_batch.h"

#include <QSignalSpy>

#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <thread>
#include <vector>

// Plays the main window and the data-set list around a XafsBatch that lives
// in a thread of its own: loading and reconstruction of a set take a turn of
// the event loop (or, with holdCalc, wait until the test releases them).
class FakeBody : public QObject {
    Q_OBJECT
public:
    XafsBatch *batch = nullptr;
    int setCount = 0;
    int seqFrom = 1;
    int seqTo = 1;
    bool holdCalc = false;

    QStringList stages;
    QList<qlonglong> deltas;
    QList<int> loadedSets;
    QList<int> calculatedSets;
    int startingCount = 0;
    int finishedCount = 0;
    int pendingCalcs = 0;

    void connectTo(XafsBatch *b)
    {
        batch = b;
        connect(b, &XafsBatch::starting, this, &FakeBody::startingSeqCalc);
        connect(b, &XafsBatch::stage, this, &FakeBody::noticedStage);
        connect(b, &XafsBatch::setFirstImageSet, this, &FakeBody::setFirstImageSet);
        connect(b, &XafsBatch::setNextImageSet, this, &FakeBody::setNextImageSet);
        connect(b, &XafsBatch::execCalculation, this, &FakeBody::startCalcCt);
        connect(b, &XafsBatch::finished, this, &FakeBody::finishedSeqCalc);
        connect(this, &FakeBody::seqCalcClicked, b, &XafsBatch::start);
        connect(this, &FakeBody::finishedLoadingCTFiles, b, &XafsBatch::loadedDataSet);
        connect(this, &FakeBody::calcFinished, b, &XafsBatch::calcFinished);
        connect(this, &FakeBody::noMoreSets, b, &XafsBatch::noMoreSets);
        connect(this, &FakeBody::stage, this, &FakeBody::noticedStage);
    }

    void releaseCalc()
    {
        if (pendingCalcs > 0) {
            --pendingCalcs;
            emit calcFinished();
        }
    }

signals:
    void seqCalcClicked();
    void finishedLoadingCTFiles();
    void calcFinished();
    void noMoreSets();
    void stage(QString msg, qlonglong dEt);
    void walkEnded();

public slots:
    void startingSeqCalc() { ++startingCount; }
    void finishedSeqCalc()
    {
        ++finishedCount;
        emit walkEnded();
    }
    void noticedStage(QString msg, qlonglong dEt)
    {
        stages << msg;
        deltas << dEt;
    }
    void setFirstImageSet()
    {
        emit stage(QStringLiteral("Loading first Data Set"), batch->stageDelta());
        setFirstSet(seqFrom - 1);
    }
    void setNextImageSet()
    {
        emit stage(QStringLiteral("Loading next Data Set"), batch->stageDelta());
        setNextSet(seqTo - 1);
    }
    void startCalcCt()
    {
        calculatedSets << current;
        ++pendingCalcs;
        if (!holdCalc)
            QTimer::singleShot(30, this, &FakeBody::releaseCalc);
    }

private:
    // The data-set list: an index outside the list is "no current set".
    void setFirstSet(int idx)
    {
        current = idx;
        applySet();
    }
    void setNextSet(int lastIdx)
    {
        if (current < lastIdx && current < setCount - 1) {
            ++current;
            applySet();
        } else {
            emit noMoreSets();
        }
    }
    void applySet()
    {
        if (current < 0 || current >= setCount) {
            emit noMoreSets();
            return;
        }
        loadedSets << current;
        QTimer::singleShot(10, this, [this] { emit finishedLoadingCTFiles(); });
    }

    int current = -1;
};

class XafsBatchTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void twoSetWalk();
    void fromEqualsTo();
    void toBeyondList();
    void fromBeyondList();
    void secondPressStops();
    void idleIgnoresCompletions();
    void walkCanBeRepeated();
    void stageClockSharedBetweenThreads();
    void progressSeconds();

private:
    bool runWalk(int timeoutMs = 5000);

    std::unique_ptr<QThread> thread;
    XafsBatch *batch = nullptr;
    std::unique_ptr<FakeBody> body;
};

void XafsBatchTest::init()
{
    thread = std::make_unique<QThread>();
    batch = new XafsBatch;
    batch->moveToThread(thread.get());
    thread->start();
    releaseAtThreadEnd(thread.get());
    body = std::make_unique<FakeBody>();
    body->connectTo(batch);
}

void XafsBatchTest::cleanup()
{
    thread->quit();
    waitForThreadEnd(thread.get());
    delete batch;
    batch = nullptr;
    body.reset();
    thread.reset();
}

bool XafsBatchTest::runWalk(int timeoutMs)
{
    // Watched on this side of the queue: a spy on the batch's own signals
    // would be filled in the batch's thread, possibly before wait() begins.
    QSignalSpy ended(body.get(), &FakeBody::walkEnded);
    emit body->seqCalcClicked();
    return ended.wait(timeoutMs);
}

void XafsBatchTest::twoSetWalk()
{
    body->setCount = 2;
    body->seqFrom = 1;
    body->seqTo = 2;
    QVERIFY(runWalk());

    const QStringList want { "Data Loading", "Loading first Data Set", "Calculating",
        "Finished Calc.", "Loading next Data Set", "Calculating", "Finished Calc.",
        "Loading next Data Set", "Finished" };
    QCOMPARE(body->stages, want);
    QCOMPARE(body->loadedSets, QList<int>({ 0, 1 }));
    QCOMPARE(body->calculatedSets, QList<int>({ 0, 1 }));
    QCOMPARE(body->startingCount, 1);
    QCOMPARE(body->finishedCount, 1);
    QVERIFY(!batch->isWalkRunning());

    // One clock for both sides: each interval is measured from the previous
    // message, whoever sent it, so the intervals add up to the walk's time.
    qlonglong sum = 0;
    for (qlonglong d : body->deltas) {
        QVERIFY(d >= 0);
        sum += d;
    }
    QVERIFY(sum <= batch->totalElapsedMs());
    // Each reconstruction takes 30 ms of the fake's time before "Finished Calc.".
    QVERIFY(body->deltas[3] >= 25);
    QVERIFY(body->deltas[6] >= 25);
}

void XafsBatchTest::fromEqualsTo()
{
    body->setCount = 5;
    body->seqFrom = 3;
    body->seqTo = 3;
    QVERIFY(runWalk());
    QCOMPARE(body->loadedSets, QList<int>({ 2 }));
    QCOMPARE(body->calculatedSets, QList<int>({ 2 }));
    QCOMPARE(body->stages.last(), QStringLiteral("Finished"));
    QCOMPARE(body->stages.size(), 6);
}

void XafsBatchTest::toBeyondList()
{
    body->setCount = 3;
    body->seqFrom = 2;
    body->seqTo = 9;
    QVERIFY(runWalk());
    QCOMPARE(body->loadedSets, QList<int>({ 1, 2 }));
    QCOMPARE(body->calculatedSets, QList<int>({ 1, 2 }));
    QCOMPARE(body->finishedCount, 1);
}

void XafsBatchTest::fromBeyondList()
{
    body->setCount = 3;
    body->seqFrom = 4;
    body->seqTo = 5;
    QVERIFY(runWalk());
    QCOMPARE(body->stages, QStringList({ "Data Loading", "Loading first Data Set", "Finished" }));
    QVERIFY(body->loadedSets.isEmpty());
    QVERIFY(body->calculatedSets.isEmpty());
}

void XafsBatchTest::secondPressStops()
{
    body->setCount = 5;
    body->seqFrom = 1;
    body->seqTo = 5;
    body->holdCalc = true;
    emit body->seqCalcClicked();
    // The first reconstruction is running.
    QTRY_COMPARE_WITH_TIMEOUT(body->pendingCalcs, 1, 3000);

    emit body->seqCalcClicked();
    QTRY_COMPARE_WITH_TIMEOUT(body->finishedCount, 1, 3000);
    QCOMPARE(body->stages.last(), QStringLiteral("Finished"));

    // The reconstruction completes, but no next set follows.
    body->releaseCalc();
    QTest::qWait(150);
    QCOMPARE(body->finishedCount, 1);
    QCOMPARE(body->loadedSets, QList<int>({ 0 }));
    QCOMPARE(body->calculatedSets, QList<int>({ 0 }));
    QCOMPARE(body->stages,
        QStringList({ "Data Loading", "Loading first Data Set", "Calculating", "Finished" }));
    QVERIFY(!batch->isWalkRunning());
}

void XafsBatchTest::idleIgnoresCompletions()
{
    // Single loads and reconstructions outside a walk pass through.
    emit body->finishedLoadingCTFiles();
    emit body->calcFinished();
    emit body->noMoreSets();
    QTest::qWait(100);
    QVERIFY(body->calculatedSets.isEmpty());
    QVERIFY(body->loadedSets.isEmpty());
    QCOMPARE(body->finishedCount, 0);
    QVERIFY(body->stages.isEmpty());
    QCOMPARE(batch->totalElapsedMs(), 0);
    QCOMPARE(batch->stageDelta(), 0);
}

void XafsBatchTest::walkCanBeRepeated()
{
    body->setCount = 2;
    body->seqFrom = 2;
    body->seqTo = 2;
    QVERIFY(runWalk());
    body->stages.clear();
    body->deltas.clear();
    QVERIFY(runWalk());
    QCOMPARE(body->loadedSets, QList<int>({ 1, 1 }));
    QCOMPARE(body->stages.first(), QStringLiteral("Data Loading"));
    QCOMPARE(body->stages.last(), QStringLiteral("Finished"));
    // The clock restarts with every walk.
    QVERIFY(body->deltas.first() < 1000);
    QCOMPARE(body->startingCount, 2);
}

void XafsBatchTest::progressSeconds()
{
    QCOMPARE(XafsBatch::deltaSeconds(0), 0.0);
    QCOMPARE(XafsBatch::deltaSeconds(99), 0.0);
    QCOMPARE(XafsBatch::deltaSeconds(1999), 1.9);
    QCOMPARE(XafsBatch::deltaSeconds(61234), 61.2);
    QCOMPARE(XafsBatch::deltaSeconds(-5), 0.0);
    QCOMPARE(batch->totalSeconds(), 0);
}

// The main window reads the stage clock from its thread while the walk's own
// messages (a second press ending the walk) read it in the batch's thread:
// every interval is counted once, whichever thread took it.
void XafsBatchTest::stageClockSharedBetweenThreads()
{
    XafsBatch local; // started here; its signals go nowhere
    local.start();
    std::vector<qlonglong> a, b;
    auto take = [&local](std::vector<qlonglong> &out) {
        const QDeadlineTimer until(60);
        while (!until.hasExpired())
            out.push_back(local.stageDelta());
    };
    std::thread other(take, std::ref(b));
    take(a);
    other.join();
    qlonglong sum = 0;
    for (const auto *v : { &a, &b })
        for (qlonglong d : *v) {
            QVERIFY(d >= 0);
            sum += d;
        }
    QVERIFY(!a.empty() && !b.empty());
    QVERIFY(sum <= local.totalElapsedMs());
    // Nearly all of the time between the first and the last look is counted.
    QVERIFY(sum >= 50);
    local.finish();
}

VORLO_TEST(XafsBatchTest)
#include "xafs_batch_test.moc"

#include "ct/proc_ctrl.h"
#include "ct/range_dispatch.h"
#include "tests/test_registry.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <random>
#include <set>

namespace {

struct Handout {
    int calculator;
    double cor;
    int slice;
};

// Records every slice handed out, in order.
struct Recorder {
    explicit Recorder(RangeDispatch &d)
    {
        QObject::connect(
            &d, &RangeDispatch::startCt, &d, [this](int c, bool, double cor, int slice, bool) {
                out.push_back({ c, cor, slice });
            });
        QObject::connect(&d, &RangeDispatch::finished, &d, [this] { ++finishedCount; });
    }
    std::vector<int> slices() const
    {
        std::vector<int> s;
        for (const Handout &h : out)
            s.push_back(h.slice);
        return s;
    }
    std::vector<Handout> out;
    int finishedCount = 0;
};

CtRunParams range(int from, int to, int step, int threads)
{
    CtRunParams p;
    p.calcCt2 = true;
    p.autoExec = true;
    p.sliceFrom = from;
    p.sliceTo = to;
    p.sliceStep = step;
    p.threads = threads;
    p.cor = 512.5;
    return p;
}

// Lets calculators report in the order given by pick (an index into the busy ones).
template <class Pick> void drain(RangeDispatch &d, Recorder &r, Pick pick)
{
    for (int guard = 0; guard < 100000 && r.finishedCount == 0; ++guard) {
        std::vector<int> busyOnes;
        for (int i = 0; i < d.calculatorCount(); ++i)
            if (d.isBusy(i))
                busyOnes.push_back(i);
        if (busyOnes.empty())
            break;
        d.calcFinished(busyOnes[pick(int(busyOnes.size()))]);
    }
}

} // namespace

class TestRangeDispatch : public QObject {
    Q_OBJECT
private slots:
    void eightCalculatorsSixThreads();
    void downwardRanges_data();
    void downwardRanges();
    void finishingOrderNeverRepeatsASlice();
    void randomOrderCoversRangeOnce();
    void zeroStepAndZeroThreads();
    void noCalculatorEndsAtOnce();
    void stopHandsOutNothingMore();
    void busyFromEarlierRunIsSkipped();
    void singleSliceUsesFirstCalculatorAndFixedCor();
    void recordedCentresGiveEachSliceItsCor();
    void calculatorReportingInsideTheHandout();
    void sharedRangeCoversEverySliceOnce_data();
    void sharedRangeCoversEverySliceOnce();
    void sharedCentresAndUnsharedSingleSlice();
    void threadsPerSliceStayWithinTheRun_data();
    void threadsPerSliceStayWithinTheRun();
};

void TestRangeDispatch::eightCalculatorsSixThreads()
{
    RangeDispatch d;
    d.setCalculatorCount(8);
    Recorder r(d);
    d.startRange(range(0, 99, 1, 6), true);
    QCOMPARE(r.slices(), (std::vector<int> { 0, 1, 2, 3, 4, 5 }));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(r.out[size_t(i)].calculator, i);
    QVERIFY(!d.isBusy(6) && !d.isBusy(7));
    QCOMPARE(d.currentSlice(), 6);

    d.calcFinished(3);
    QCOMPARE(int(r.out.size()), 7);
    QCOMPARE(r.out.back().calculator, 3);
    QCOMPARE(r.out.back().slice, 6);

    drain(d, r, [](int) { return 0; });
    QCOMPARE(r.finishedCount, 1);
    QCOMPARE(int(r.out.size()), 100);
    QVERIFY(!d.isRunning());
    for (const Handout &h : r.out)
        QVERIFY(h.calculator < 6);
}

void TestRangeDispatch::downwardRanges_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("threads");
    QTest::addColumn<std::vector<int>>("slices");
    QTest::newRow("100 to 90 step 3")
        << 100 << 90 << -3 << 2 << std::vector<int> { 100, 97, 94, 91 };
    // The run's step takes the range's direction whatever its typed sign.
    QTest::newRow("typed sign ignored")
        << 100 << 90 << 3 << 2 << std::vector<int> { 100, 97, 94, 91 };
    QTest::newRow("100 to 90 step 5, 4 calculators")
        << 100 << 90 << -5 << 4 << std::vector<int> { 100, 95, 90 };
    QTest::newRow("one slice") << 7 << 7 << 1 << 4 << std::vector<int> { 7 };
    QTest::newRow("near the int limit")
        << INT_MAX - 2 << INT_MAX << 2 << 2 << std::vector<int> { INT_MAX - 2, INT_MAX };
}

void TestRangeDispatch::downwardRanges()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(int, threads);
    QFETCH(std::vector<int>, slices);
    RangeDispatch d;
    d.setCalculatorCount(4);
    Recorder r(d);
    d.startRange(range(from, to, step, threads), false);
    drain(d, r, [](int n) { return n - 1; });
    QCOMPARE(r.slices(), slices);
    QCOMPARE(r.finishedCount, 1);
    // Calculators beyond the slices needed stay unused.
    std::set<int> used;
    for (const Handout &h : r.out)
        used.insert(h.calculator);
    QCOMPARE(int(used.size()), std::min(threads, int(slices.size())));
}

void TestRangeDispatch::finishingOrderNeverRepeatsASlice()
{
    for (int order = 0; order < 2; ++order) {
        RangeDispatch d;
        d.setCalculatorCount(2);
        Recorder r(d);
        d.startRange(range(0, 5, 1, 2), true);
        QCOMPARE(r.slices(), (std::vector<int> { 0, 1 }));
        // Both report before the dispatch is asked again: each gets its own slice.
        d.calcFinished(order == 0 ? 0 : 1);
        d.calcFinished(order == 0 ? 1 : 0);
        QCOMPARE(int(r.out.size()), 4);
        QCOMPARE(r.out[2].calculator, order == 0 ? 0 : 1);
        QCOMPARE(r.out[2].slice, 2);
        QCOMPARE(r.out[3].slice, 3);
        QVERIFY(r.out[2].calculator != r.out[3].calculator);
        // A report from a calculator that has nothing hands out no slice twice.
        d.calcFinished(7);
        QCOMPARE(int(r.out.size()), 4);
    }
}

void TestRangeDispatch::randomOrderCoversRangeOnce()
{
    std::mt19937 rng(12345);
    for (int run = 0; run < 20; ++run) {
        const int calcs = 1 + int(rng() % 8);
        RangeDispatch d;
        d.setCalculatorCount(calcs);
        Recorder r(d);
        const int step = 1 + int(rng() % 7);
        d.startRange(range(200, 13, -step, 1 + int(rng() % 10)), true);
        drain(d, r, [&rng](int n) { return int(rng() % unsigned(n)); });
        QCOMPARE(r.finishedCount, 1);
        std::vector<int> expected;
        for (int s = 200; s >= 13; s -= step)
            expected.push_back(s);
        // Handed out in order, each slice once, whatever the finishing order.
        QCOMPARE(r.slices(), expected);
        for (int i = 0; i < calcs; ++i)
            QVERIFY(!d.isBusy(i));
    }
}

void TestRangeDispatch::zeroStepAndZeroThreads()
{
    RangeDispatch d;
    d.setCalculatorCount(3);
    Recorder r(d);
    d.startRange(range(5, 8, 0, 0), true);
    QCOMPARE(r.slices(), (std::vector<int> { 5 }));
    drain(d, r, [](int) { return 0; });
    QCOMPARE(r.slices(), (std::vector<int> { 5, 6, 7, 8 }));
    QCOMPARE(r.finishedCount, 1);
    QCOMPARE(d.threadsUsed(), 1);
}

void TestRangeDispatch::noCalculatorEndsAtOnce()
{
    RangeDispatch d;
    Recorder r(d);
    QTest::ignoreMessage(QtDebugMsg, "No parallel calculator : the run ends at once");
    d.startRange(range(0, 99, 1, 6), true);
    QCOMPARE(r.finishedCount, 1);
    QVERIFY(r.out.empty());
    QVERIFY(!d.isRunning());
}

void TestRangeDispatch::stopHandsOutNothingMore()
{
    RangeDispatch d;
    d.setCalculatorCount(2);
    Recorder r(d);
    d.startRange(range(0, 9, 1, 2), true);
    d.stop();
    d.calcFinished(0);
    d.calcFinished(1);
    QCOMPARE(int(r.out.size()), 2);
    QCOMPARE(r.finishedCount, 0);
    QVERIFY(!d.isBusy(0) && !d.isBusy(1));
}

void TestRangeDispatch::busyFromEarlierRunIsSkipped()
{
    RangeDispatch d;
    d.setCalculatorCount(2);
    Recorder r(d);
    d.startRange(range(0, 9, 1, 2), true);
    d.stop();
    d.calcFinished(1); // calculator 0 is still working on slice 0
    d.startRange(range(50, 52, 1, 2), true);
    QCOMPARE(r.out.back().calculator, 1);
    QCOMPARE(r.out.back().slice, 50);
    QCOMPARE(int(r.out.size()), 3);
    d.calcFinished(0); // the old slice ends; the new run uses the calculator now
    QCOMPARE(r.out.back().calculator, 0);
    QCOMPARE(r.out.back().slice, 51);
    drain(d, r, [](int) { return 0; });
    QCOMPARE(r.finishedCount, 1);
    QCOMPARE(int(r.out.size()), 5);
}

void TestRangeDispatch::singleSliceUsesFirstCalculatorAndFixedCor()
{
    RangeDispatch d;
    d.setCalculatorCount(4);
    d.setCorFunction([](const CtRunParams &, int) { return -1.0; });
    Recorder r(d);
    CtRunParams p = range(0, 99, 1, 4);
    p.autoExec = false;
    p.sliceNo = 321;
    d.startSingle(p, false);
    QCOMPARE(int(r.out.size()), 1);
    QCOMPARE(r.out[0].calculator, 0);
    QCOMPARE(r.out[0].slice, 321);
    QCOMPARE(r.out[0].cor, 512.5);
    QCOMPARE(r.finishedCount, 0);
    d.calcFinished(0);
    QCOMPARE(r.finishedCount, 1);
    QCOMPARE(int(r.out.size()), 1);
}

void TestRangeDispatch::recordedCentresGiveEachSliceItsCor()
{
    RangeDispatch d;
    d.setCalculatorCount(2);
    d.setCorFunction(&ProcCtrl::corForSlice);
    Recorder r(d);
    CtRunParams p = range(100, 1400, 400, 2);
    p.recordedSlice1 = 900;
    p.recordedCor1 = 1003.4;
    p.recordedSlice2 = 100;
    p.recordedCor2 = 1000.2;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^pcps"));
    d.startRange(p, true);
    drain(d, r, [](int) { return 0; });
    QCOMPARE(r.slices(), (std::vector<int> { 100, 500, 900, 1300 }));
    QVERIFY(qAbs(r.out[0].cor - 1000.2) < 1e-9);
    QVERIFY(qAbs(r.out[1].cor - 1001.8) < 1e-9);
    QVERIFY(qAbs(r.out[2].cor - 1003.4) < 1e-9);
    QVERIFY(qAbs(r.out[3].cor - 1005.0) < 1e-9);
}

void TestRangeDispatch::calculatorReportingInsideTheHandout()
{
    // Calculators that finish synchronously (same thread, direct call) while
    // the dispatch is still handing out slices.
    RangeDispatch d;
    d.setCalculatorCount(3);
    Recorder r(d);
    connect(&d, &RangeDispatch::startCt, &d,
        [&d](int c, bool, double, int, bool) { d.calcFinished(c); });
    d.startRange(range(0, 20, 1, 3), true);
    std::vector<int> expected(21);
    for (int i = 0; i <= 20; ++i)
        expected[size_t(i)] = i;
    QCOMPARE(r.slices(), expected);
    QCOMPARE(r.finishedCount, 1);
    QVERIFY(!d.isRunning());
}

void TestRangeDispatch::sharedRangeCoversEverySliceOnce_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("parts");
    QTest::newRow("10 slices, 2 ranks") << 0 << 9 << 1 << 2;
    QTest::newRow("10 slices, 3 ranks") << 0 << 9 << 1 << 3;
    QTest::newRow("downwards with step 3, 4 ranks") << 100 << 70 << 3 << 4;
    QTest::newRow("fewer slices than ranks") << 5 << 6 << 1 << 4;
    QTest::newRow("one slice, 2 ranks") << 7 << 7 << 1 << 2;
}

// The ranks of a shared run together hand out the whole range, each slice by
// exactly one rank, the k-th slice by rank k mod parts; a rank with no share
// finishes at once.
void TestRangeDispatch::sharedRangeCoversEverySliceOnce()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, step);
    QFETCH(int, parts);
    std::vector<int> whole;
    for (int s = from; from <= to ? s <= to : s >= to; s += from <= to ? step : -step)
        whole.push_back(s);
    std::multiset<int> seen;
    for (int part = 0; part < parts; ++part) {
        RangeDispatch d;
        d.setCalculatorCount(2);
        d.setShare(part, parts);
        Recorder r(d);
        d.startRange(range(from, to, step, 2), true);
        drain(d, r, [](int n) { return n - 1; });
        QCOMPARE(r.finishedCount, 1);
        std::vector<int> expected;
        for (size_t k = size_t(part); k < whole.size(); k += size_t(parts))
            expected.push_back(whole[k]);
        QCOMPARE(r.slices(), expected);
        for (const Handout &h : r.out)
            QCOMPARE(h.cor, 512.5);
        seen.insert(expected.begin(), expected.end());
    }
    std::sort(whole.begin(), whole.end());
    QCOMPARE(std::vector<int>(seen.begin(), seen.end()), whole);
}

void TestRangeDispatch::sharedCentresAndUnsharedSingleSlice()
{
    const QVector<double> cors { 10, 10.5, 11, 11.5, 12 };
    QVector<double> all;
    for (int part = 0; part < 2; ++part) {
        RangeDispatch d;
        d.setCalculatorCount(3);
        d.setShare(part, 2);
        QVector<double> got;
        int finished = 0;
        QObject::connect(&d, &RangeDispatch::startTryCt, &d, [&](int c, bool, double cor, int) {
            got << cor;
            QMetaObject::invokeMethod(
                &d, [&d, c] { d.calcFinished(c); }, Qt::QueuedConnection);
        });
        QObject::connect(&d, &RangeDispatch::finished, &d, [&finished] { ++finished; });
        d.startCors(range(0, 0, 1, 3), 4, cors);
        QTRY_COMPARE(finished, 1);
        QCOMPARE(
            got, part == 0 ? QVector<double>({ 10, 11, 12 }) : QVector<double>({ 10.5, 11.5 }));
        all += got;
    }
    std::sort(all.begin(), all.end());
    QCOMPARE(all, cors);

    // A single slice is not shared: every part computes it (the caller
    // decides who); a share out of range counts as the whole.
    RangeDispatch d;
    d.setCalculatorCount(1);
    d.setShare(1, 2);
    Recorder r(d);
    CtRunParams p = range(0, 9, 1, 1);
    p.sliceNo = 3;
    d.startSingle(p, true);
    drain(d, r, [](int) { return 0; });
    QCOMPARE(r.slices(), std::vector<int>({ 3 }));
    d.setShare(2, 2);
    QCOMPARE(d.shareParts(), 1);
}

void TestRangeDispatch::threadsPerSliceStayWithinTheRun_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("calculators");
    QTest::addColumn<qint64>("slices");
    QTest::addColumn<int>("perSlice");
    QTest::addColumn<int>("used");
    QTest::newRow("one slice, two threads") << 2 << 2 << qint64(1) << 2 << 1;
    QTest::newRow("one slice, one thread") << 1 << 2 << qint64(1) << 1 << 1;
    QTest::newRow("two slices, two threads") << 2 << 2 << qint64(2) << 1 << 2;
    QTest::newRow("range longer than threads") << 2 << 2 << qint64(500) << 1 << 2;
    QTest::newRow("3 slices, 8 threads") << 8 << 8 << qint64(3) << 2 << 3;
    QTest::newRow("3 slices, 6 of 8 threads") << 6 << 8 << qint64(3) << 2 << 3;
    QTest::newRow("threads beyond calculators") << 16 << 4 << qint64(1) << 4 << 1;
    QTest::newRow("no threads asked") << 0 << 4 << qint64(1) << 1 << 1;
    QTest::newRow("no calculator") << 4 << 0 << qint64(1) << 1 << 0;
    QTest::newRow("no slice counts as one") << 4 << 4 << qint64(0) << 4 << 1;
}

void TestRangeDispatch::threadsPerSliceStayWithinTheRun()
{
    QFETCH(int, threads);
    QFETCH(int, calculators);
    QFETCH(qint64, slices);
    QFETCH(int, perSlice);
    QFETCH(int, used);
    const int t = sliceThreadsFor(threads, calculators, slices);
    QCOMPARE(t, perSlice);
    QCOMPARE(calculatorsFor(threads, calculators, slices), used);
    // The slices that run at once never use more threads than the run allows.
    QVERIFY(std::max(used, 1) * t <= std::max(1, std::min(threads, std::max(calculators, 1))));
}

VORLO_TEST(TestRangeDispatch)
#include "test_range_dispatch.moc"

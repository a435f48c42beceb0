#include "tests/test_registry.h"
#include "util/tsan_handoff.h"

#include <QTest>
#include <QThread>
#include <vector>

namespace {

// A worker as the calculators are: runs posted calls in its own event(),
// next to ordinary queued slot calls. Its list is touched only in its thread.
class Worker : public QObject {
    Q_OBJECT
public:
    std::vector<int> seen;
    std::vector<bool> inOwnThread;

public slots:
    void note(int v)
    {
        seen.push_back(v);
        inOwnThread.push_back(QThread::currentThread() == thread());
    }

protected:
    bool event(QEvent *e) override { return runHandOffCall(e) || QObject::event(e); }
};

} // namespace

class TestTsanHandOff : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void postedCallsRunInOrderWithQueuedCalls();
    void callInThreadSeesEverythingPostedBefore();
    void callsWithoutAReceiverOfTheirOwn();
    void otherEventsAreLeftToQObject();
    void waitForThreadEndKeepsTheDeadline();

private:
    QThread *thread = nullptr;
    Worker *worker = nullptr;
};

void TestTsanHandOff::init()
{
    thread = new QThread;
    worker = new Worker;
    worker->moveToThread(thread);
    thread->start();
    releaseAtThreadEnd(thread);
}

void TestTsanHandOff::cleanup()
{
    thread->quit();
    QVERIFY(waitForThreadEnd(thread));
    delete worker;
    delete thread;
}

void TestTsanHandOff::postedCallsRunInOrderWithQueuedCalls()
{
    Worker *w = worker;
    for (int i = 0; i < 20; ++i) {
        if (i % 2)
            postHandOffCall(w, [w, i] { w->note(i); });
        else
            QMetaObject::invokeMethod(w, "note", Qt::QueuedConnection, Q_ARG(int, i));
    }
    const std::vector<int> seen = callInThread(thread, [w] { return w->seen; });
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i)
        expected[size_t(i)] = i;
    QCOMPARE(seen, expected);
    const std::vector<bool> own = callInThread(thread, [w] { return w->inOwnThread; });
    QCOMPARE(own, std::vector<bool>(20, true));
}

void TestTsanHandOff::callInThreadSeesEverythingPostedBefore()
{
    Worker *w = worker;
    QThread *t = thread;
    QVERIFY(callInThread(t, [t] { return QThread::currentThread() == t; }));
    // A slow call first: the blocking call comes after it, not beside it.
    postHandOffCall(w, [w] {
        QThread::msleep(50);
        w->note(7);
    });
    QCOMPARE(callInThread(t, [w] { return w->seen.size(); }), size_t(1));
    callInThread(t, [w] { w->note(8); });
    QCOMPARE(callInThread(t, [w] { return w->seen.back(); }), 8);
}

void TestTsanHandOff::callsWithoutAReceiverOfTheirOwn()
{
    // A thread with no object that runs calls gets a receiver made for each.
    QThread other;
    other.start();
    releaseAtThreadEnd(&other);
    QThread *ran = nullptr;
    postHandOffCallInThread(&other, [&ran] { ran = QThread::currentThread(); });
    // Everything posted to the thread before its quit runs first.
    postHandOffCallInThread(&other, [] { QThread::currentThread()->quit(); });
    QVERIFY(waitForThreadEnd(&other, QDeadlineTimer(5000)));
    QCOMPARE(ran, &other);
}

void TestTsanHandOff::otherEventsAreLeftToQObject()
{
    // An event of another type is not taken for a call and goes on to
    // QObject::event().
    Worker local;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&local, &user);
    QVERIFY(local.seen.empty());
    QEvent hide(QEvent::Hide); // no object event: QObject::event() refuses it
    QVERIFY(!QCoreApplication::sendEvent(&local, &hide));
    HandOffCall call([&local] { local.note(3); });
    QVERIFY(QCoreApplication::sendEvent(&local, &call));
    QCOMPARE(local.seen, std::vector<int> { 3 });
}

void TestTsanHandOff::waitForThreadEndKeepsTheDeadline()
{
    // The worker's thread still runs its event loop: the wait times out and
    // nothing is acquired; after quit() it ends.
    QVERIFY(!waitForThreadEnd(thread, QDeadlineTimer(30)));
    QVERIFY(thread->isRunning());
}

VORLO_TEST(TestTsanHandOff)
#include "test_tsan_handoff.moc"

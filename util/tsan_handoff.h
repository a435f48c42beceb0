#pragma once
// Memory handed from one thread to another through Qt, made visible to
// ThreadSanitizer.
//
// The system Qt is not built with ThreadSanitizer, and its mutexes and wait
// conditions wait on futexes directly, so TSan does not see the order that
// Qt gives: an event or a queued call is taken by the receiving thread only
// after the sending thread posted it, a blocking queued call returns only
// after the call ran, QThread::wait() returns only after the thread ended.
// Everything one thread wrote before such a hand-off would be reported as a
// race with what the other thread does after it.
//
// handOffRelease(p) in the thread that hands memory over, before the hand-off,
// and handOffAcquire(p) with the same address in the thread that takes it,
// after the hand-off, tell TSan about that one ordering and nothing more.
// Without ThreadSanitizer both compile to nothing.
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <functional>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VORLO_TSAN_HANDOFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VORLO_TSAN_HANDOFF 1
#endif
#endif

#ifdef VORLO_TSAN_HANDOFF
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

// Everything this thread wrote so far is seen by the thread that next calls
// handOffAcquire(p).
inline void handOffRelease(const void *p)
{
#ifdef VORLO_TSAN_HANDOFF
    if (p)
        __tsan_release(const_cast<void *>(p));
#else
    (void)p;
#endif
}

// This thread sees everything written before the handOffRelease(p) that
// preceded the hand-off.
inline void handOffAcquire(const void *p)
{
#ifdef VORLO_TSAN_HANDOFF
    if (p)
        __tsan_acquire(const_cast<void *>(p));
#else
    (void)p;
#endif
}

// A thread's end: releaseAtThreadEnd(t), called once for a QThread (before or
// after start()), releases on t in that thread when it finishes its event
// loop; waitForThreadEnd(t) is QThread::wait() followed by the acquire, so
// that what the thread's objects did is ordered before what comes after the
// wait (most often their deletion).
inline void releaseAtThreadEnd(QThread *t)
{
#ifdef VORLO_TSAN_HANDOFF
    // Nothing captured: the slot reads no memory written by this thread.
    QObject::connect(
        t, &QThread::finished, t, [] { handOffRelease(QThread::currentThread()); },
        Qt::DirectConnection);
#else
    (void)t;
#endif
}

inline bool waitForThreadEnd(QThread *t, QDeadlineTimer deadline = QDeadlineTimer::Forever)
{
    const bool ended = t->wait(deadline);
    if (ended)
        handOffAcquire(t);
    return ended;
}

// A call posted to an object's thread as an event that carries the call.
// QMetaObject::invokeMethod() copies a functor into a slot object of its own
// after any release that its caller could make; this event is complete when
// it is released, and its receiver acquires it before running the call.
class HandOffCall : public QEvent {
public:
    explicit HandOffCall(std::function<void()> f)
        : QEvent(eventType())
        , call(std::move(f))
    {
    }

    static QEvent::Type eventType()
    {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }

    std::function<void()> call;
};

// Posts f to run in receiver's thread, in order with the queued calls and
// events posted to it. The receiver's event() hands the event to
// runHandOffCall().
template <class F> void postHandOffCall(QObject *receiver, F &&f)
{
    auto *e = new HandOffCall(std::function<void()>(std::forward<F>(f)));
    handOffRelease(e);
    QCoreApplication::postEvent(receiver, e);
}

// For the receiver's event(): runs a call posted by postHandOffCall() and
// returns true, or returns false for any other event.
inline bool runHandOffCall(QEvent *e)
{
    // Acquired before the event is read at all; for other events there is
    // nothing released on their address.
    handOffAcquire(e);
    if (e->type() != HandOffCall::eventType())
        return false;
    static_cast<HandOffCall *>(e)->call();
    return true;
}

// Receives the calls posted by postHandOffCallInThread(): one per call, moved
// to the thread the call runs in, deleted there after the call.
class HandOffReceiver : public QObject {
protected:
    bool event(QEvent *e) override
    {
        if (!runHandOffCall(e))
            return QObject::event(e);
        deleteLater();
        return true;
    }
};

// Posts f to run in thread t, in order with everything posted to the objects
// of that thread, for objects whose own event() does not run posted calls.
template <class F> void postHandOffCallInThread(QThread *t, F &&f)
{
    auto *receiver = new HandOffReceiver;
    receiver->moveToThread(t);
    postHandOffCall(receiver, std::forward<F>(f));
}

// Runs f in thread t (which must run an event loop and not be the calling
// thread) after everything already posted there, and returns its result: a
// blocking queued call. The promise's own atomics order the result for TSan;
// the call shares the promise, since it may still be inside set_value() when
// get() has returned here.
template <class F> auto callInThread(QThread *t, F f) -> decltype(f())
{
    using R = decltype(f());
    auto done = std::make_shared<std::promise<R>>();
    std::future<R> result = done->get_future();
    postHandOffCallInThread(t, [done, f] {
        if constexpr (std::is_void_v<R>) {
            f();
            done->set_value();
        } else {
            done->set_value(f());
        }
    });
    return result.get();
}

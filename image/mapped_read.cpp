#include "image/mapped_read.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <mutex>
#include <pthread.h>

namespace {

// The guard of the running thread; null outside runGuarded().
thread_local sigjmp_buf *volatile activeGuard = nullptr;

struct sigaction previousBus;

void onBusError(int sig, siginfo_t *info, void *context)
{
    sigjmp_buf *const guard = activeGuard;
    if (guard) {
        activeGuard = nullptr;
        siglongjmp(*guard, 1);
    }
    // Not a guarded read: behave as without this handler.
    if ((previousBus.sa_flags & SA_SIGINFO) && previousBus.sa_sigaction) {
        previousBus.sa_sigaction(sig, info, context);
        return;
    }
    if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN
        && previousBus.sa_handler) {
        previousBus.sa_handler(sig);
        return;
    }
    // The faulting access runs again on return and now ends the program.
    std::signal(SIGBUS, SIG_DFL);
}

void installHandler()
{
    struct sigaction sa = {};
    sa.sa_sigaction = onBusError;
    // SA_NODEFER: the jump out of the handler leaves the signal mask as it
    // was, so the guard need not save and restore it (no system call per read).
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGBUS, &sa, &previousBus);
}

} // namespace

bool runGuarded(void (*fn)(void *), void *ctx)
{
    static std::once_flag once;
    std::call_once(once, installHandler);
    sigjmp_buf env;
    sigjmp_buf *const outer = activeGuard;
    if (sigsetjmp(env, 0) != 0) {
        activeGuard = outer;
        // The handler may have run with SIGBUS blocked after all (a runtime
        // that wraps signal handlers, such as ThreadSanitizer, need not keep
        // SA_NODEFER); a blocked bus error would end the program at the next
        // cut file. Only this rare path pays for the system call.
        sigset_t bus;
        sigemptyset(&bus);
        sigaddset(&bus, SIGBUS);
        pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
        return false;
    }
    activeGuard = &env;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    fn(ctx);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    activeGuard = outer;
    return true;
}

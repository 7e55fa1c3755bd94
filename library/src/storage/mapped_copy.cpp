// Copies in and out of file mappings that survive a bus error: a file shrunk
// by another process, or a page its file system cannot provide.
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <new>
#include <pthread.h>
#include <type_traits>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/access_detail.h"

namespace quelbo::detail {

namespace {

// Where the copy running on this thread resumes when its mapping faults;
// null outside a copy. Constant-initialised, so reading it in the signal
// handler runs no initialisation.
thread_local sigjmp_buf* t_resume = nullptr;
// The GuardedCall scopes open on this thread, and whether the guard was
// made ready in the outermost.
thread_local int t_calls = 0;
thread_local bool t_checked = false;
// Whether the guard unblocked bus errors on this thread (a fault blocked
// ends the process, whatever the handler), until the outermost scope ends;
// and whether a signal sent meanwhile came, to wait until then as the
// thread asked.
thread_local bool volatile t_unblocked = false;
thread_local bool volatile t_sent = false;

// The handler the process had when ours last replaced it: a fault that is
// not ours goes to it. Never freed: a handler running on another thread may
// still read the one before.
struct Replaced
{
    struct sigaction action;
    Replaced const* before;
};
std::atomic<Replaced const*> g_replaced{nullptr};
std::atomic_flag g_installing = ATOMIC_FLAG_INIT;
// Faults handed on now, and the address of the last one the kernel raised.
std::atomic<int> g_handing{0};
std::atomic<void*> g_lastHanded{nullptr};

// The default action: the process ends with the signal.
void endWith(int sig)
{
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);
}

void onBusError(int sig, siginfo_t* info, void* context)
{
    // Only a fault the kernel raised inside a copy of ours becomes a failed
    // copy; anything else goes on to the handler ours replaced.
    bool const kernel = info && info->si_code > 0;
    sigjmp_buf* resume = t_resume;
    if (resume && kernel) {
        t_resume = nullptr;
        siglongjmp(*resume, 1);
    }
    if (!kernel && t_unblocked) {
        t_sent = true;
        return;
    }
    Replaced const* replaced = g_replaced.load();
    struct sigaction const* previous = replaced ? &replaced->action : nullptr;
    // That handler may give the signal back to the one it replaced, which is
    // ours (faulthandler does, after its report), or return without curing
    // the fault (one left disabled): a signal that comes back while it is
    // handed on, or a fault again at the same address, ends the process.
    bool const again = g_handing.load() > 0 || (kernel && info->si_addr == g_lastHanded.load());
    if (!previous || again || (!(previous->sa_flags & SA_SIGINFO) && previous->sa_handler == SIG_DFL)) {
        endWith(sig);
        return;
    }
    if (!(previous->sa_flags & SA_SIGINFO) && previous->sa_handler == SIG_IGN) {
        if (kernel)
            endWith(sig); // a fault cannot be ignored
        return;           // a sent signal the process ignores
    }
    if (kernel)
        g_lastHanded.store(info->si_addr);
    g_handing.fetch_add(1);
    if (previous->sa_flags & SA_SIGINFO)
        previous->sa_sigaction(sig, info, context);
    else
        previous->sa_handler(sig);
    g_handing.fetch_sub(1);
}

bool isOurs(struct sigaction const& action)
{
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == onBusError;
}

// Makes ours the process's handler of SIGBUS, again when another replaced
// it since (faulthandler, a runtime's own handler): that one then takes the
// faults that are not ours. Checked before every guarded copy (once in a
// GuardedCall).
void ensureHandler() noexcept
{
    struct sigaction now;
    if (::sigaction(SIGBUS, nullptr, &now) != 0 || isOurs(now))
        return;
    while (g_installing.test_and_set(std::memory_order_acquire))
        ;
    if (::sigaction(SIGBUS, nullptr, &now) == 0 && !isOurs(now)) {
        if (auto* replaced = new (std::nothrow) Replaced{now, g_replaced.load()}) {
            g_replaced.store(replaced);
            struct sigaction action;
            std::memset(&action, 0, sizeof action);
            action.sa_sigaction = onBusError;
            // Not deferred: the handler leaves by a jump that keeps the signal
            // mask, which must then be the mask of the interrupted copy.
            action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGBUS, &action, nullptr);
        }
    }
    g_installing.clear(std::memory_order_release);
}

sigset_t busErrors()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGBUS);
    return set;
}

// Makes the guard ready on this thread: the handler ours, and bus errors
// unblocked when the thread blocks them.
void prepare() noexcept
{
    ensureHandler();
    sigset_t now;
    if (::pthread_sigmask(SIG_BLOCK, nullptr, &now) == 0 && sigismember(&now, SIGBUS)) {
        t_unblocked = true; // first: a signal waiting comes at once
        sigset_t const bus = busErrors();
        ::pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
    }
}

// Blocks bus errors again where prepare() unblocked them; a signal sent
// meanwhile is raised again, to wait.
void release() noexcept
{
    if (!t_unblocked)
        return;
    sigset_t const bus = busErrors();
    ::pthread_sigmask(SIG_BLOCK, &bus, nullptr);
    t_unblocked = false;
    if (t_sent) {
        t_sent = false;
        ::raise(SIGBUS);
    }
}

// Runs copy() with a bus error in a mapping turned into false: whatever
// copy() stored before the fault stays.
template <class Copy>
bool attempt(Copy const& copy) noexcept
{
    sigjmp_buf resume;
    if (sigsetjmp(resume, 0) != 0)
        return false;
    t_resume = &resume;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    copy();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_resume = nullptr;
    return true;
}

// attempt(copy) with the guard made ready first (once in a GuardedCall).
template <class Copy>
bool guarded(Copy const& copy) noexcept
{
    bool const alone = t_calls == 0;
    if (!t_checked) {
        prepare();
        t_checked = !alone;
    }
    bool const copied = attempt(copy);
    if (alone)
        release();
    return copied;
}

// Copies the runs first to last, counting those copied whole in done (in
// memory: the count must survive the jump out of a fault).
template <class Byte>
void copyRuns(uint8_t* mapping, ByteRun<Byte> const* runs, std::size_t count, std::size_t volatile& done)
{
    for (std::size_t i = 0; i < count; done = ++i) {
        ByteRun<Byte> const& r = runs[i];
        if (!r.size)
            continue;
        if constexpr (std::is_const_v<Byte>)
            std::memmove(mapping + r.offset, r.data, r.size);
        else
            std::memmove(r.data, mapping + r.offset, r.size);
    }
}

// The leading runs that the file fd, mapped for `mapped` bytes, still holds
// whole: all of them when it was not shrunk (or its size cannot be learnt).
template <class Byte>
std::size_t heldWhole(int fd, std::size_t mapped, ByteRun<Byte> const* runs, std::size_t count)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || uint64_t(st.st_size) >= mapped)
        return count;
    std::size_t const size = std::size_t(st.st_size);
    for (std::size_t i = 0; i < count; ++i)
        if (runs[i].size && (runs[i].offset > size || runs[i].size > size - runs[i].offset))
            return i;
    return count;
}

} // namespace

GuardedCall::GuardedCall() noexcept
{
    ++t_calls;
}

GuardedCall::~GuardedCall()
{
    if (--t_calls == 0) {
        t_checked = false;
        release();
    }
}

bool mappedCopy(void* dst, const void* src, std::size_t size) noexcept
{
    return guarded([&] { std::memmove(dst, src, size); });
}

template <class Byte>
std::size_t mappedRuns(uint8_t* mapping, ByteRun<Byte> const* runs, std::size_t count) noexcept
{
    volatile std::size_t done = 0;
    guarded([&] { copyRuns(mapping, runs, count, done); });
    return done;
}
template std::size_t mappedRuns(uint8_t*, ReadRun const*, std::size_t) noexcept;
template std::size_t mappedRuns(uint8_t*, WriteRun const*, std::size_t) noexcept;

template <class Byte>
std::size_t fileMappedRuns(int fd, uint8_t* mapping, std::size_t mapped, ByteRun<Byte> const* runs, std::size_t count,
                           std::size_t reach) noexcept
{
    if (!mapping || !mapped)
        return mappedRuns(mapping, runs, count);
    static std::size_t const page = std::size_t(::sysconf(_SC_PAGESIZE));
    std::size_t const last = (mapped - 1) / page * page;
    // Runs reaching into the mapping's last page are measured against the
    // file's size first; the others need only that the file still reaches
    // that page, which a load from it tells (it faults when not).
    bool const measured = reach > last;
    std::size_t const held = measured ? heldWhole(fd, mapped, runs, count) : count;
    volatile bool reaches = measured;
    volatile std::size_t done = 0;
    guarded([&] {
        if (!measured) {
            (void)*static_cast<uint8_t volatile*>(mapping + last);
            reaches = true;
        }
        copyRuns(mapping, runs, held, done);
    });
    if (reaches)
        return done;
    // The file ends before the mapping's last page now: the runs it holds.
    return mappedRuns(mapping, runs, heldWhole(fd, mapped, runs, count));
}
template std::size_t fileMappedRuns(int, uint8_t*, std::size_t, ReadRun const*, std::size_t, std::size_t) noexcept;
template std::size_t fileMappedRuns(int, uint8_t*, std::size_t, WriteRun const*, std::size_t, std::size_t) noexcept;

} // namespace quelbo::detail

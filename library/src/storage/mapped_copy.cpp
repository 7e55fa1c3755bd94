// Copies in and out of file mappings that survive a bus error: a file shrunk
// by another process, or a page its file system cannot provide.
#include <algorithm>
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
// handler runs no initialisation. The mapping's pages lie from t_from to
// t_to: a fault elsewhere (in the caller's memory) is not the copy's.
thread_local sigjmp_buf* t_resume = nullptr;
thread_local uintptr_t t_from = 0, t_to = 0;
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

// The handlers ours replaced, each kept once (a handler installed again and
// again, faulthandler enabled and disabled around each call, is one record),
// newest first, and the one the process had when ours last replaced it: a
// fault that is not ours goes to it. Never freed: a handler running on
// another thread may still read one that was current before.
struct Replaced
{
    struct sigaction action;
    Replaced const* before;
};
std::atomic<Replaced const*> g_seen{nullptr};
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
    // Only a fault the kernel raised in the mapping of a copy of ours
    // becomes a failed copy; anything else (a fault in memory the caller
    // handed over goes to the process as it would without the library) goes
    // on to the handler ours replaced.
    bool const kernel = info && info->si_code > 0;
    sigjmp_buf* resume = t_resume;
    uintptr_t const at = kernel ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
    if (resume && kernel && at >= t_from && at < t_to) {
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

bool sameAction(struct sigaction const& a, struct sigaction const& b)
{
    bool const info = a.sa_flags & SA_SIGINFO;
    return a.sa_flags == b.sa_flags && std::memcmp(&a.sa_mask, &b.sa_mask, sizeof a.sa_mask) == 0 &&
           (info ? a.sa_sigaction == b.sa_sigaction : a.sa_handler == b.sa_handler);
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
        Replaced const* replaced = g_seen.load();
        while (replaced && !sameAction(replaced->action, now))
            replaced = replaced->before;
        if (!replaced && (replaced = new (std::nothrow) Replaced{now, g_seen.load()}))
            g_seen.store(replaced);
        if (replaced) {
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

// Runs copy() with a bus error in the `size` bytes mapped at `mapping`
// turned into false: whatever copy() stored before the fault stays.
template <class Copy>
bool attempt(uint8_t const* mapping, std::size_t size, Copy const& copy) noexcept
{
    static uintptr_t const page = uintptr_t(::sysconf(_SC_PAGESIZE));
    sigjmp_buf resume;
    if (sigsetjmp(resume, 0) != 0)
        return false;
    t_from = reinterpret_cast<uintptr_t>(mapping);
    t_to = t_from + ((size + page - 1) & ~(page - 1)); // pages are a power of two
    t_resume = &resume;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    copy();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_resume = nullptr;
    return true;
}

// attempt() with the guard made ready first (once in a GuardedCall).
template <class Copy>
bool guarded(uint8_t const* mapping, std::size_t size, Copy const& copy) noexcept
{
    bool const alone = t_calls == 0;
    if (!t_checked) {
        prepare();
        t_checked = !alone;
    }
    bool const copied = attempt(mapping, size, copy);
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
// whole: all of them when it was not shrunk (or its size cannot be learnt);
// `shorter` is set when it was.
template <class Byte>
std::size_t heldWhole(int fd, std::size_t mapped, ByteRun<Byte> const* runs, std::size_t count, bool* shorter)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || uint64_t(st.st_size) >= mapped)
        return count;
    if (shorter)
        *shorter = true;
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

template <class Byte>
std::size_t fileMappedRuns(int fd, uint8_t* mapping, std::size_t mapped, ByteRun<Byte> const* runs, std::size_t count,
                           bool* shorter) noexcept
{
    std::size_t reach = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (runs[i].size)
            reach = std::max(reach, runs[i].offset + runs[i].size);
    if (!reach || !mapping || !mapped)
        return reach ? 0 : count;
    static std::size_t const page = std::size_t(::sysconf(_SC_PAGESIZE));
    std::size_t const last = (mapped - 1) & ~(page - 1);
    // The file is measured once the runs are copied, so that a cut made
    // before or during the copy is seen: one that reaches into the
    // mapping's last page asks the file's size; for the others a load from
    // that page tells that the file still reaches it (it faults when not,
    // and the size is asked then), after the copy's own loads, and stores
    // (a store still on its way could land in the page cut after the load).
    bool const measured = reach > last;
    volatile bool reaches = false;
    volatile std::size_t done = 0;
    guarded(mapping, mapped, [&] {
        copyRuns(mapping, runs, count, done);
        if (!measured) {
            std::atomic_thread_fence(std::is_const_v<Byte> ? std::memory_order_seq_cst : std::memory_order_acquire);
            (void)*static_cast<uint8_t volatile*>(mapping + last);
            reaches = true;
        }
    });
    if (reaches)
        return done;
    return std::min(std::size_t(done), heldWhole(fd, mapped, runs, count, shorter));
}
template std::size_t fileMappedRuns(int, uint8_t*, std::size_t, ReadRun const*, std::size_t, bool*) noexcept;
template std::size_t fileMappedRuns(int, uint8_t*, std::size_t, WriteRun const*, std::size_t, bool*) noexcept;

} // namespace quelbo::detail

// Copies in and out of file mappings that survive a bus error: a file shrunk
// by another process, or a page its file system cannot provide.
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <type_traits>

#include "storage/access_detail.h"

namespace quelbo::detail {

namespace {

// Where the copy running on this thread resumes when its mapping faults;
// null outside a copy. Constant-initialised, so reading it in the signal
// handler runs no initialisation.
thread_local sigjmp_buf* t_resume = nullptr;

struct sigaction g_previous;

void onBusError(int sig, siginfo_t* info, void* context)
{
    // Only a fault the kernel raised inside a copy of ours becomes a failed
    // copy; anything else goes on as if this handler did not exist.
    sigjmp_buf* resume = t_resume;
    if (resume && info && info->si_code > 0) {
        t_resume = nullptr;
        siglongjmp(*resume, 1);
    }
    if (g_previous.sa_flags & SA_SIGINFO) {
        g_previous.sa_sigaction(sig, info, context);
        return;
    }
    if (g_previous.sa_handler == SIG_IGN && info && info->si_code <= 0)
        return; // a sent signal the process ignores
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(sig);
        return;
    }
    // The default action: the process ends with the signal.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);
}

bool installHandler()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onBusError;
    // Not deferred: the handler leaves by a jump that keeps the signal mask,
    // which must then be the mask of the interrupted copy.
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, &g_previous) == 0;
}

} // namespace

namespace {

// Runs copy() with a bus error in a mapping turned into false: whatever
// copy() stored before the fault stays.
template <class Copy>
bool guarded(Copy const& copy) noexcept
{
    static bool const installed = installHandler();
    (void)installed;
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

} // namespace

bool mappedCopy(void* dst, const void* src, std::size_t size) noexcept
{
    return guarded([&] { std::memmove(dst, src, size); });
}

template <class Byte>
std::size_t mappedRuns(uint8_t* mapping, ByteRun<Byte> const* runs, std::size_t count) noexcept
{
    // Counted in memory: the count must survive the jump out of a fault.
    volatile std::size_t done = 0;
    guarded([&] {
        for (std::size_t i = 0; i < count; done = ++i) {
            ByteRun<Byte> const& r = runs[i];
            if (!r.size)
                continue;
            if constexpr (std::is_const_v<Byte>)
                std::memmove(mapping + r.offset, r.data, r.size);
            else
                std::memmove(r.data, mapping + r.offset, r.size);
        }
    });
    return done;
}
template std::size_t mappedRuns(uint8_t*, ReadRun const*, std::size_t) noexcept;
template std::size_t mappedRuns(uint8_t*, WriteRun const*, std::size_t) noexcept;

} // namespace quelbo::detail

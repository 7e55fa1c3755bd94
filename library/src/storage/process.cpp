// Which process this is: its id, noted again in a fork's child.
#include "storage/process.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace quelbo::detail {

namespace {

// The process running now, kept up to date across forks.
std::atomic<pid_t> g_process{0};

void noteProcess()
{
    g_process.store(::getpid(), std::memory_order_relaxed);
}

} // namespace

pid_t currentProcess()
{
    static bool const watched = [] {
        noteProcess();
        return ::pthread_atfork(nullptr, nullptr, &noteProcess) == 0;
    }();
    return watched ? g_process.load(std::memory_order_relaxed) : ::getpid();
}

} // namespace quelbo::detail

// Which process this is (private to the library).
#pragma once
#include <sys/types.h>

namespace quelbo::detail {

// The process running now, kept up to date across forks: what a process
// made (connections, temporary files) is told apart from what a fork's child
// inherited.
pid_t currentProcess();

} // namespace quelbo::detail

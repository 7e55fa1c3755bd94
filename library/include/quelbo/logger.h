// The library's log: its level and its messages.
#pragma once
#include <cstdint>

#include "quelbo/export.h"

namespace quelbo {

enum LogLevel : int32_t
{
    LOG_OFF = 0,
    LOG_CRITICAL = 1,
    LOG_ERR = 2,
    LOG_WARNING = 3,
    LOG_INFO = 4,
    LOG_DEBUG = 5,
    LOG_TRACE = 6,
};

class QUELBO_API Logger
{
public:
    // Starts the logging system at the given level; a running system keeps its level.
    static void init(LogLevel level);
    static LogLevel logLevel();
    // Writes one line to standard error when the level is enabled.
    static void log(LogLevel level, char const* message);
};

} // namespace quelbo

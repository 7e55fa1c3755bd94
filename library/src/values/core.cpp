// The log, the version and the unique identifiers.
#include <cstdio>
#include <mutex>
#include <random>

#include "quelbo/logger.h"
#include "quelbo/uid.h"
#include "quelbo/version.h"

namespace quelbo {

namespace {
constexpr int kMajor = 1;
constexpr int kMinor = 4;
constexpr int kPatch = 0;

std::once_flag g_logInit;
LogLevel g_level = LOG_WARNING;
} // namespace

void Logger::init(LogLevel level)
{
    std::call_once(g_logInit, [level] { g_level = level; });
}

LogLevel Logger::logLevel()
{
    std::call_once(g_logInit, [] {});
    return g_level;
}

void Logger::log(LogLevel level, char const* message)
{
    if (level != LOG_OFF && level <= logLevel())
        std::fprintf(stderr, "[quelbo] %s\n", message);
}

VersionInfo Versioning::version()
{
    return VersionInfo{kMajor, kMinor, kPatch};
}

std::string Versioning::versionString()
{
    return "quelbo " + std::to_string(kMajor) + "." + std::to_string(kMinor) + "." + std::to_string(kPatch);
}

bool Versioning::checkCompatibility(VersionInfo const& v)
{
    return v.major == kMajor && kMinor >= v.minor;
}

bool Versioning::checkCompatibility()
{
    return checkCompatibility(VersionInfo{kMajor, kMinor, kPatch});
}

const uint64_t UidGenerator::UNDEFINED_UID = 0;

uint64_t UidGenerator::generate()
{
    static std::mt19937_64 engine{std::random_device{}()};
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    uint64_t v;
    do
        v = engine();
    while (v == UNDEFINED_UID);
    return v;
}

} // namespace quelbo

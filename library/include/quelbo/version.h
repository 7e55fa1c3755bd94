// The library's version and the check of a version against it.
#pragma once
#include <string>

#include "quelbo/export.h"

namespace quelbo {

struct VersionInfo
{
    int major = 0;
    int minor = 0;
    int patch = 0;
};

class QUELBO_API Versioning
{
public:
    static VersionInfo version();
    static std::string versionString();
    // Same major version and a library minor version at least the given one.
    static bool checkCompatibility(VersionInfo const& version);
    static bool checkCompatibility();
};

} // namespace quelbo

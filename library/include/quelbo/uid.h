// Unique identifiers of the process's objects.
#pragma once
#include <cstdint>

#include "quelbo/export.h"

namespace quelbo {

class QUELBO_API UidGenerator
{
public:
    static const uint64_t UNDEFINED_UID;
    // A random identifier, never UNDEFINED_UID.
    static uint64_t generate();
};

} // namespace quelbo

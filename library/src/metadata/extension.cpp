// The view extensions' casts and texts, and the view origin records.
#include "quelbo/extension.h"

#include <string>
#include <utility>

#include "quelbo/error.h"
#include "quelbo/uid.h"
#include "util/release.h"

namespace quelbo {

Extension::~Extension() = default;

std::shared_ptr<TilingInfoExtension> TilingInfoExtension::cast(std::shared_ptr<Extension> const& extension)
{
    return std::dynamic_pointer_cast<TilingInfoExtension>(extension);
}

std::shared_ptr<ParallelAccessExtension> ParallelAccessExtension::cast(std::shared_ptr<Extension> const& extension)
{
    return std::dynamic_pointer_cast<ParallelAccessExtension>(extension);
}

std::string ParallelAccessExtension::toString() const
{
    static const char* const names[] = {"THREAD_SAFE", "PARALLEL_TILE_READ", "PARALLEL_TILE_WRITE", "PARALLEL_READ",
                                        "PARALLEL_WRITE"};
    const uint64_t bits = capabilities().value();
    std::string out = "ParallelAccess(";
    bool first = true;
    for (size_t i = 0; i < 5; ++i) {
        if (!(bits & (uint64_t(1) << i)))
            continue;
        if (!first)
            out += " | ";
        out += names[i];
        first = false;
    }
    return out + ")";
}

std::shared_ptr<ViewOriginExtension> ViewOriginExtension::cast(std::shared_ptr<Extension> const& extension)
{
    return std::dynamic_pointer_cast<ViewOriginExtension>(extension);
}

std::string ViewOriginExtension::toString() const
{
    static const char* const origins[] = {"UNKNOWN", "CPU_MEMORY", "DRIVE",    "GPU_MEMORY",
                                          "NETWORK", "GENERATED",  "COMPOSITE"};
    const auto origin = static_cast<int32_t>(dataOrigin());
    std::string out = "ViewOrigin(uid: " + std::to_string(uid()) +
                      ", origin: " + (origin >= 0 && origin <= 6 ? origins[origin] : std::to_string(origin)) +
                      ", name: " + displayName() + ", parents: [";
    for (size_t i = 0; i < parentCount(); ++i) {
        if (i)
            out += ", ";
        out += std::to_string(parent(i)->uid());
    }
    return out + "])";
}

ViewOriginRecord::ViewOriginRecord(ViewDataOrigin origin, std::string displayName,
                                   std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : m_uid(UidGenerator::generate()), m_origin(origin), m_displayName(std::move(displayName)),
      m_parents(std::move(parents))
{
    for (auto const& p : m_parents) {
        if (!p)
            throw InvalidArgument("ViewOrigin: a parent cannot be empty");
    }
}

// A chain of records (a view derived from a view derived from ...) goes
// without recursion.
ViewOriginRecord::~ViewOriginRecord()
{
    util::release(m_parents);
    util::release(m_foreignSource);
}

std::shared_ptr<ViewOriginExtension> ViewOriginRecord::parent(size_t idx) const
{
    if (idx >= m_parents.size())
        throw InvalidArgument("ViewOrigin: parent index " + std::to_string(idx) + " is not below the parent count " +
                              std::to_string(m_parents.size()));
    return m_parents[idx];
}

} // namespace quelbo

// The holders handed over to scripts, each taken back once.
#include "quelbo/hand_over.h"

#include <mutex>
#include <typeindex>
#include <unordered_map>

namespace quelbo {
namespace hand_over_detail {

namespace {
std::mutex& lock()
{
    static std::mutex m;
    return m;
}
std::unordered_map<uint64_t, std::type_index>& holders()
{
    static auto* map = new std::unordered_map<uint64_t, std::type_index>();
    return *map;
}
} // namespace

void record(void* holder, std::type_info const& type)
{
    std::lock_guard<std::mutex> guard(lock());
    holders().emplace(reinterpret_cast<uintptr_t>(holder), std::type_index(type));
}

bool take(uint64_t address, std::type_info const& type)
{
    std::lock_guard<std::mutex> guard(lock());
    auto it = holders().find(address);
    if (it == holders().end() || it->second != std::type_index(type))
        return false;
    holders().erase(it);
    return true;
}

} // namespace hand_over_detail
} // namespace quelbo

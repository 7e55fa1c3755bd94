// Shared objects handed over to a script by address, and taken back once.
#pragma once
#include <cstdint>
#include <memory>
#include <typeinfo>

#include "quelbo/export.h"

namespace quelbo {

// Native code hands a shared object over to a script by the address of a heap
// holder (a std::shared_ptr<T> allocated alone). handOver makes and records
// the holder; adopt gives it back, once, only for an address recorded for
// that same T, and null for any other value: an arbitrary integer is never
// taken for a holder.
namespace hand_over_detail {
QUELBO_API void record(void* holder, std::type_info const& type);
QUELBO_API bool take(uint64_t address, std::type_info const& type);
} // namespace hand_over_detail

template <class T>
uint64_t handOver(std::shared_ptr<T> object)
{
    auto* holder = new std::shared_ptr<T>(std::move(object));
    try {
        hand_over_detail::record(holder, typeid(T));
    } catch (...) {
        delete holder;
        throw;
    }
    return reinterpret_cast<uintptr_t>(holder);
}

template <class T>
std::shared_ptr<T>* adopt(uint64_t address)
{
    if (!hand_over_detail::take(address, typeid(T)))
        return nullptr;
    return reinterpret_cast<std::shared_ptr<T>*>(uintptr_t(address));
}

} // namespace quelbo

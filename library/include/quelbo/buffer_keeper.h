// BorrowedMemory: memory lent to the library with the keeper that keeps it valid.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quelbo {

// Memory lent to the library by its owner (an application buffer, a script's
// array, a mapped file of someone else) together with a keeper: an opaque
// owner token that keeps the memory valid. Whatever the library builds over
// the memory (a store, a stream or region over that store, an image view)
// holds the keeper, so the keeper is released exactly when the last of
// those users is gone. The keeper's deleter is the lender's own code; the
// library never looks inside it. An empty keeper means the lender promises to
// keep the memory valid and unmoved by other means.
//
// How a family uses it: take a BorrowedMemory in the factory, hold it (or
// the store made from it) in the created object, and read and write only
// within [data, data + size).
struct BorrowedMemory
{
    uint8_t* data = nullptr;
    std::size_t size = 0;
    std::shared_ptr<void> keeper;
};

} // namespace quelbo

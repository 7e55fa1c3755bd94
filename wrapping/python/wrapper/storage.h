// Storage access families: the shared pieces of the accessor, provider,
// factory and header wrappers.
#pragma once

#include <memory>

#include "core_args.h"
#include "quelbo/access_factory.h"
#include "runtime/buffer.h"
#include "runtime/shared.h"

namespace qw::storage {

using quelbo::DataAccess;
using quelbo::DataStorage;
using quelbo::HTTPHeaders;
using quelbo::RandomAccess;
using quelbo::StreamAccess;

// Converts a shared class's method object and runs body(object) inside the
// library-call guard.
template <class X, class F>
PyObject* on_self(PyObject* o, const ArgId& a, F&& body)
{
    std::shared_ptr<X> self;
    if (!shared_self(o, a, self))
        return nullptr;
    return call([&] { return body(*self); });
}

// Declared texts of the parameters these families share.
constexpr const char* kString = "std::string const &";
constexpr const char* kUri = "quelbo::Uri const &";
constexpr const char* kHeaders = "quelbo::HTTPHeaders const &";
constexpr const char* kStreamPtr = "std::shared_ptr< quelbo::StreamAccess >";
constexpr const char* kStorePtr = "std::shared_ptr< quelbo::RandomAccess >";

} // namespace qw::storage

// Storage access families: the shared pieces of the accessor, provider,
// factory and header wrappers.
#pragma once

#include "buffer_args.h"
#include "core_args.h"
#include "quelbo/access_factory.h"
#include "runtime/declare.h"

namespace qw::storage {

using quelbo::DataAccess;
using quelbo::DataStorage;
using quelbo::HTTPHeaders;
using quelbo::RandomAccess;
using quelbo::StreamAccess;

} // namespace qw::storage

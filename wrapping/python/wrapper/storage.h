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

// From module set-up on, file streams behave as Python's files: a stream
// let go with bytes its file refused is reported as an unraisable exception,
// as Python's files report a failure as they close; a signal that interrupts
// a call that waits runs Python's handlers, and the call goes on unless one
// raised (the call then ends with that exception).
void connect_file_streams();

} // namespace qw::storage

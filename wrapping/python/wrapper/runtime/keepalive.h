// Results that point into another object keep that object alive.
#pragma once

#include <memory>

#include "runtime/pyrt.h"

namespace qw {

// Ties `owner` to the handle behind `result` (a handle or a proxy instance):
// the owner lives at least as long as that handle. The owner rides at the end
// of the handle's chain as a handle of a private type that no parameter
// accepts, so the result converts exactly as before. Returns `result`; on
// failure releases it and returns null with the error set. None and null pass
// through unchanged.
PyObject* keep_alive(PyObject* result, std::shared_ptr<const void> owner);

} // namespace qw

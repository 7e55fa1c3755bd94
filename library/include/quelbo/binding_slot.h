// One pointer for the whole process, kept for a binding of the library that
// is made of several modules, each with its own copy of the binding's code:
// the first of them enters its shared state here, and every later one finds
// it, whatever became meanwhile of what the binding shows elsewhere. The
// library itself never reads it.
#pragma once

#include "quelbo/export.h"

namespace quelbo {

QUELBO_API void*& bindingSlot();

} // namespace quelbo

// Typed building blocks of the flat functions, one header per concern:
//   types.h      type entries and shared-pointer casts (QW_TYPE, QW_SHARED_CAST)
//   methods.h    method table, family parts (QW_FAMILY), hooks, kept texts
//   scalars.h    the library-call guard, scalar arguments and results
//   objects.h    object arguments and results, generic class members
//   overloads.h  overloaded functions (candidate rows)
// A family file includes this header.
#pragma once

#include <cstring>
#include <new>
#include <stdexcept>

#include "quelbo/error.h"
#include "runtime/methods.h"
#include "runtime/objects.h"
#include "runtime/overloads.h"
#include "runtime/scalars.h"
#include "runtime/types.h"

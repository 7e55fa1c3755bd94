// What the two sources of the type table share: the holder module of the
// shared table, lookups by mangled name and the capsule's destructor.
#pragma once

#include "runtime/pyrt.h"

namespace qw::table {

inline constexpr const char* kHolder = "swig_runtime_data4";
inline constexpr const char* kCapsuleName = "swig_runtime_data4.type_pointer_capsule";

// Binary search of a module's entries in use.
swig_type_info* find_in_module(swig_module_info* m, const char* name);
// Searches every joined module but `self`.
swig_type_info* find_elsewhere(swig_module_info* self, const char* name);
// The destructor of the capsule a module of this runtime made.
void capsule_destroy(PyObject* capsule);
// The one the runtime gives a capsule another module made (Shared::foreign_end).
void foreign_capsule_destroy(PyObject* capsule);

} // namespace qw::table

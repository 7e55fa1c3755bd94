#pragma once
#include "runtime/pyrt.h"

namespace qw {

// The module-wide `cvar` object, created on first use (null with TypeError
// "Failure to create SWIG globals." when it can't be). The module keeps it.
PyObject* cvar_object();
// Adds a read-only variable at the head of cvar's list: every assignment or
// deletion is refused, in one place (the variables object's setattr).
bool add_variable(const char* name, PyObject* (*get)());
// The refusal every variable gives to an assignment or deletion.
int refuse_write(const char* name);

} // namespace qw

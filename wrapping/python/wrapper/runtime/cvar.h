#pragma once
#include "runtime/pyrt.h"

namespace qw {

// The module-wide `cvar` object, created on first use (null with TypeError
// "Failure to create SWIG globals." when it can't be).
PyObject* cvar_object();
// Drops the module-wide reference (when the shared table goes away).
void release_cvar();
// Adds a variable at the head of cvar's list.
bool add_variable(const char* name, PyObject* (*get)(), int (*set)(PyObject*));
// The refusal every variable gives to an assignment or deletion.
int refuse_write(const char* name);

// A read-only variable declared by name: QW_READONLY_SETTER(name) gives its setter.
template <const char* Name>
int readonly_setter(PyObject*)
{
    return refuse_write(Name);
}

} // namespace qw

// The test peer's view of the shared layouts and of its own table (see
// peer.cpp): written from the layouts alone, nothing of the binding runtime.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace peer {

struct TypeInfo;
struct CastInfo
{
    TypeInfo* type;
    void* (*converter)(void*, int*);
    CastInfo* next;
    CastInfo* prev;
};

struct TypeInfo
{
    const char* name;
    const char* str;
    void* dcast;
    CastInfo* cast;
    void* clientdata;
    int owndata;
};

struct ModuleInfo
{
    TypeInfo** types;
    size_t size;
    ModuleInfo* next;
    TypeInfo** type_initial;
    CastInfo** cast_initial;
    void* clientdata;
};

struct ClientData
{
    PyObject* klass;
    PyObject* newraw;
    PyObject* newargs;
    PyObject* destroy;
    int delargs;
    int implicitconv;
    PyTypeObject* pytype;
};

struct HandleObject
{
    PyObject_HEAD void* ptr;
    TypeInfo* ty;
    int own;
    PyObject* next;
    int held; // this module's own field: the handle holds the capsule
};

inline constexpr const char* kCapsuleName = "swig_runtime_data4.type_pointer_capsule";

// table.cpp: the module record, joined to the shared table by join(); the
// capsule when this module made it (the holder module's attribute owns it).
extern ModuleInfo module_info;
extern TypeInfo* error_type;
extern TypeInfo* version_type;
extern TypeInfo* stream_type;
extern PyObject* capsule;
bool join();
TypeInfo* find_anywhere(const char* name);
// Registers `klass` on the entry: a record made with malloc replaces the
// entry's own (freed with free).
void register_record(TypeInfo* t, PyObject* klass);

// inspect.cpp: the table as this module sees it.
bool ready_inspect();
PyObject* records(PyObject*, PyObject*);
PyObject* casts_of(PyObject*, PyObject* name);
PyObject* same_entry(PyObject*, PyObject* name);
PyObject* probe(PyObject*, PyObject* name);
PyObject* new_probe(PyObject*, PyObject*);

} // namespace peer

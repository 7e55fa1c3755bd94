// The method table: the families' parts of it, the class hooks, and the
// texts kept for the module's life.
#pragma once

#include <string>
#include <vector>

#include "runtime/types.h"

namespace qw {

// ============================================================ method table

struct Methods
{
    std::vector<PyMethodDef> defs;
    void add(const char* name, PyCFunction f, int flags, const char* doc = nullptr)
    {
        defs.push_back({name, f, flags, doc});
    }
    void add(const std::string& name, PyCFunction f, int flags, const char* doc = nullptr)
    {
        add(intern(name), f, flags, doc);
    }
    template <class F>
    void add(const char* name, F* f, int flags, const char* doc = nullptr)
    {
        add(name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)), flags, doc);
    }
    template <class F>
    void add(const std::string& name, F* f, int flags, const char* doc = nullptr)
    {
        add(intern(name), f, flags, doc);
    }
};

// A family's part of the method table: `add` adds its functions, `order` (a
// place of order.h) places them; create_module assembles the parts in
// ascending order, each part's functions in the order it adds them.
struct TablePartReg
{
    TablePartReg(int order, TablePartFn fn) { declare_family({order, fn}); }
};
#define QW_FAMILY(order, fn) static ::qw::TablePartReg QW_CAT(qw_family_, __LINE__)(order, fn)

PyObject* swigregister_for(swig_type_info* ty, PyObject* arg);
PyObject* swiginit(PyObject*, PyObject* args);

template <class T>
PyObject* swigregister(PyObject*, PyObject* arg)
{
    return swigregister_for(Type<T>::info, arg);
}

// Adds <cls>_swigregister and, when the class has a constructor, <cls>_swiginit.
template <class T>
void add_hooks(Methods& m, const std::string& cls, bool with_init = true)
{
    m.add(cls + "_swigregister", &swigregister<T>, METH_O);
    if (with_init)
        m.add(cls + "_swiginit", &swiginit, METH_VARARGS);
}

// ============================================================ texts

// A text kept for the module's life, joined from up to three parts: equal
// texts share one copy, so asking again allocates nothing (still, keep the
// result in a function-local static: `static const char* fn =
// joined("new_", Tr::name);`). Never throws.
inline const char* joined(const char* a, const char* b, const char* c = "")
{
    try {
        return intern(std::string(a) + b + c);
    } catch (...) {
        return a;
    }
}

} // namespace qw

// The method table: each flat function enters it through its guarded form,
// made for that function at compile time.
#pragma once

#include <string>
#include <vector>

#include "runtime/pyrt.h"

namespace qw {

// The form of flat function F that the module shows: F runs inside the call
// guard, and nothing native leaves it.
template <auto F>
PyObject* guarded(PyObject* self, PyObject* args) noexcept
{
    CallGuard guard;
    try {
        return F(self, args);
    } catch (...) {
        return raise_native_exception();
    }
}

struct Methods
{
    std::vector<PyMethodDef> defs;

    // m.add<&fn>("Name", METH_O, doc): fn(PyObject* module, PyObject* args).
    template <auto F>
    void add(const char* name, int flags, const char* doc = nullptr)
    {
        defs.push_back({name, &guarded<F>, flags, doc});
    }
    template <auto F>
    void add(const std::string& name, int flags, const char* doc = nullptr)
    {
        add<F>(intern(name), flags, doc);
    }
    // A declared function (runtime/declare.h): m.add<Decl>().
    template <class D>
    void add()
    {
        defs.push_back({D::name, &D::run, D::flags, D::doc});
    }
};

} // namespace qw

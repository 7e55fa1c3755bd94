// Test-only functions for the runtime's own rules: a probe object that counts
// its destructions and reads its own memory, an in-place operator over it,
// long text results and the ordering of a method table.
#include <cstring>
#include <string>
#include <vector>

#include "core_args.h"
#include "runtime/members.h"

namespace {

using namespace qw;

struct Probe
{
    static inline int destroyed = 0;
    uint64_t magic = 0x5157;
    ~Probe()
    {
        ++destroyed;
        magic = 0;
    }
};

QW_TEST_TYPE(Probe, "_p_Probe", "Probe *");
QW_TEST_TYPE(quelbo::DataType, "_p_quelbo__DataType", "quelbo::DataType *");
QW_TEST_TYPE(char, "_p_char", "char *");

struct ProbeTr
{
    using T = Probe;
    static constexpr const char* name = "Probe";
    static constexpr const char* native = "Probe";
};

PyObject* Probe_read(PyObject*, PyObject* o)
{
    Probe* p;
    if (!self(o, {"Probe_read", 1, "Probe const *"}, p))
        return nullptr;
    return to_py(p->magic);
}

// Reads the probe after converting a data type, whose __index__ may run Python code.
PyObject* Probe_read_with(PyObject*, PyObject* args)
{
    const char* fn = "Probe_read_with";
    PyObject* a[2];
    Probe* p;
    quelbo::DataType type;
    if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, "Probe const *"}, p) ||
        !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return to_py(p->magic); });
}

PyObject* Probe___ior__(PyObject*, PyObject* args)
{
    const char* fn = "Probe___ior__";
    const ArgId left{fn, 1, "Probe *"};
    PyObject* a[2];
    Probe* p;
    quelbo::DataType type;
    if (!unpack(fn, args, 2, 2, a) || !self_mut(a[0], left, p) || !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] {
        p->magic |= 1;
        return inplace_result(a[0], p, type_of<Probe>(), &left);
    });
}

PyObject* Probe_destroyed(PyObject*, PyObject*)
{
    return to_py(Probe::destroyed);
}

PyObject* long_text(PyObject*, PyObject* o)
{
    uint64_t n;
    if (!arg(o, {"long_text", 1, "size_t"}, n))
        return nullptr;
    return call([&] { return to_py(std::string(n, 'x') + "y"); });
}

// The last character of a `char *` text and its length.
PyObject* text_tail(PyObject*, PyObject* o)
{
    char* text;
    if (!ptr(o, {"text_tail", 1, "char *"}, text))
        return nullptr;
    if (!text)
        return none();
    size_t n = std::strlen(text);
    return Py_BuildValue("(Kc)", (unsigned long long)n, n ? text[n - 1] : '\0');
}

// Builds a text outside the library-call guard: whatever it throws must not
// leave the function.
PyObject* text_outside_guard(PyObject*, PyObject* o)
{
    uint64_t n;
    if (!arg(o, {"text_outside_guard", 1, "size_t"}, n))
        return nullptr;
    if (n == 1)
        throw quelbo::InvalidArgument("thrown outside the guard");
    std::string text(size_t(n), 'x');
    return to_py(text.size());
}

// The texts of a list of str.
bool texts(PyObject* list, std::vector<std::string>& out)
{
    for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
        PyObject* bytes = PyUnicode_AsUTF8String(PyList_GetItem(list, i));
        if (!bytes)
            return false;
        out.emplace_back(PyBytes_AsString(bytes));
        Py_DECREF(bytes);
    }
    return true;
}

// The runtime's ordering of a method table: `registered` the names in the
// order the families add them, `listed` the table order. The names in table
// order, or ImportError with the fault, as create_module raises it.
PyObject* sort_table_probe(PyObject*, PyObject* args)
{
    PyObject *registered, *listed;
    std::vector<std::string> added, order;
    if (!PyArg_ParseTuple(args, "O!O!", &PyList_Type, &registered, &PyList_Type, &listed) ||
        !texts(registered, added) || !texts(listed, order))
        return nullptr;
    std::vector<PyMethodDef> defs;
    for (const std::string& name : added)
        defs.push_back({name.c_str(), nullptr, METH_NOARGS, nullptr});
    std::vector<const char*> names;
    for (const std::string& name : order)
        names.push_back(name.c_str());
    std::string fault;
    if (!sort_table(defs, {names.data(), names.size()}, fault)) {
        PyErr_SetString(PyExc_ImportError, fault.c_str());
        return nullptr;
    }
    PyObject* out = PyList_New(0);
    for (size_t i = 0; out && i < defs.size(); ++i) {
        PyObject* name = PyUnicode_FromString(defs[i].ml_name);
        if (!name || PyList_Append(out, name) < 0)
            Py_CLEAR(out);
        Py_XDECREF(name);
    }
    return out;
}

void add_runtime_probes(Methods& m)
{
    add_class<ProbeTr, NewDefault>(m);
    m.add<&Probe_read>("Probe_read", METH_O);
    m.add<&Probe_read_with>("Probe_read_with", METH_VARARGS);
    m.add<&Probe___ior__>("Probe___ior__", METH_VARARGS);
    m.add<&Probe_destroyed>("Probe_destroyed", METH_NOARGS);
    m.add<&long_text>("long_text", METH_O);
    m.add<&text_tail>("text_tail", METH_O);
    m.add<&text_outside_guard>("text_outside_guard", METH_O);
    m.add<&sort_table_probe>("sort_table", METH_VARARGS);
}
QW_FAMILY(add_runtime_probes);

} // namespace

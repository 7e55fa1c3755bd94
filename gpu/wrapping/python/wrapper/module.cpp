// Entry of _quelbo_cuda: the runtime's objects, the module with its nine
// functions, and the shared type table. No constants, no variables.
#include "runtime/wrap.h"

namespace qw::cuda {
void add_methods(Methods& m);
}

namespace {

std::vector<PyMethodDef>& method_table()
{
    static std::vector<PyMethodDef> table;
    if (table.empty()) {
        qw::Methods m;
        qw::cuda::add_methods(m);
        table = std::move(m.defs);
        table.push_back({nullptr, nullptr, 0, nullptr});
    }
    return table;
}

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_quelbo_cuda", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo_cuda()
{
    if (!qw::init_runtime())
        return nullptr;
    try {
        g_def.m_methods = method_table().data();
    } catch (std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    PyObject* m = PyModule_Create2(&g_def, 3);
    if (m && !qw::join_type_table(m)) {
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}

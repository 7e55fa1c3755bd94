// A second module of the same kind, for tests only: it joins the shared type
// table and exchanges handles with _quelbo, as the GPU module will.
#include "quelbo/error.h"
#include "quelbo/version.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;

QW_TEST_TYPE(quelbo::VersionInfo, "_p_quelbo__VersionInfo", "quelbo::VersionInfo *");
QW_TEST_TYPE(quelbo::Error, "_p_quelbo__Error", "quelbo::Error *");

PyObject* make_version(PyObject*, PyObject* o)
{
    int major;
    if (!arg(o, {"make_version", 1, "int"}, major))
        return nullptr;
    return call([&] { return value(quelbo::VersionInfo{major, 0, 0}); });
}

PyObject* read_major(PyObject*, PyObject* o)
{
    quelbo::VersionInfo* v;
    if (!self(o, {"read_major", 1, "quelbo::VersionInfo const *"}, v))
        return nullptr;
    return to_py(v->major);
}

PyObject* fail(PyObject*, PyObject*)
{
    return call([]() -> PyObject* { throw quelbo::InvalidArgument("twin failure"); });
}

void add_twin(Methods& m)
{
    m.add<&make_version>("make_version", METH_O);
    m.add<&read_major>("read_major", METH_O);
    m.add<&fail>("fail", METH_NOARGS);
}
QW_FAMILY(add_twin);

// The other files of this folder add their test-only functions with QW_FAMILY.
PyModuleDef def = {PyModuleDef_HEAD_INIT, "_quelbo_twin", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo_twin()
{
    return create_module(def);
}

// Entry of _quelbo_cuda: the module with its nine functions in table order
// (table_order.h), joined to the shared type table. No constants, no variables.
#include "runtime/wrap.h"
#include "table_order.h"

namespace qw::cuda {
void add_methods(Methods& m);
}

namespace {

QW_FAMILY(qw::cuda::add_methods);

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_quelbo_cuda", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo_cuda()
{
    return qw::create_module(g_def, qw::kGpu, qw::kTableOrder);
}

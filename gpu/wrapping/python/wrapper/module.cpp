// Entry of _quelbo_cuda: the module with its nine functions, joined to the
// shared type table. No constants, no variables.
#include "runtime/wrap.h"

namespace qw::cuda {
void add_methods(Methods& m);
}

namespace {

QW_FAMILY(0, qw::cuda::add_methods);

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_quelbo_cuda", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr};

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo_cuda()
{
    return qw::create_module(g_def, qw::kGpu);
}

// Test-only: drops a store's last owner on a native thread, as a library
// user's worker would, to check that lent Python memory is released safely.
#include <thread>

#include "quelbo/random_access.h"
#include "runtime/shared.h"

namespace {

using namespace qw;

QW_TEST_TYPE(std::shared_ptr<quelbo::RandomAccess>, "_p_std__shared_ptrT_quelbo__RandomAccess_t",
             "std::shared_ptr< quelbo::RandomAccess > *");

std::shared_ptr<quelbo::RandomAccess>& held()
{
    static std::shared_ptr<quelbo::RandomAccess> store;
    return store;
}

PyObject* hold_store(PyObject*, PyObject* o)
{
    if (!shared_self(o, {"hold_store", 1, "std::shared_ptr< quelbo::RandomAccess >"}, held()))
        return nullptr;
    return none();
}

PyObject* drop_store_in_thread(PyObject*, PyObject*)
{
    std::shared_ptr<quelbo::RandomAccess> last = std::move(held());
    Py_BEGIN_ALLOW_THREADS std::thread worker([store = std::move(last)]() mutable { store.reset(); });
    worker.join();
    Py_END_ALLOW_THREADS return none();
}

void add_storage_twin(Methods& m)
{
    m.add<&hold_store>("hold_store", METH_O);
    m.add<&drop_store_in_thread>("drop_store_in_thread", METH_NOARGS);
}
QW_FAMILY(add_storage_twin);

} // namespace

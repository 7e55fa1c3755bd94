// The DataFrameView class as far as serialization and the dependency graph
// need it: its type entry, its conversion to View, its registration hook and
// destroy function. The data frame family replaces this file when it lands.
#include "quelbo/data_frame.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw {
namespace {

using FramePtr = std::shared_ptr<quelbo::DataFrameView>;
QW_TYPE(FramePtr, "_p_std__shared_ptrT_quelbo__DataFrameView_t", "std::shared_ptr< quelbo::DataFrameView > *");
QW_SHARED_CAST(quelbo::View, quelbo::DataFrameView);

PyObject* delete_DataFrameView(PyObject*, PyObject* o)
{
    static const A a{"delete_DataFrameView", 1, "quelbo::DataFrameView *"};
    return destroy<FramePtr>(o, a);
}

void add_data_frame_class(Methods& m)
{
    m.add("delete_DataFrameView", &delete_DataFrameView, METH_O);
    add_hooks<FramePtr>(m, "DataFrameView", false);
}

} // namespace

QW_FAMILY(order::views + 90, &add_data_frame_class);

} // namespace qw

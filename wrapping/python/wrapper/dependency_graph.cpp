// DependencyGraph: whether two views share an ancestor.
#include "quelbo/dependency_graph.h"
#include "quelbo/view.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw {
namespace {

QW_TYPE(quelbo::DependencyGraph, "_p_quelbo__DependencyGraph");

PyObject* DependencyGraph__has_common_ancestor(PyObject*, PyObject* args)
{
    static const char* f = "DependencyGraph__has_common_ancestor";
    static const char* type = "std::shared_ptr< quelbo::View >";
    PyObject* a[2];
    std::shared_ptr<quelbo::View> view1, view2;
    if (!unpack(f, args, 2, 2, a) || !shared_arg(a[0], {f, 1, type}, view1) || !shared_arg(a[1], {f, 2, type}, view2))
        return nullptr;
    return call([&] { return to_py(quelbo::DependencyGraph::hasCommonAncestor(view1, view2)); });
}

struct DependencyGraphTr
{
    using T = quelbo::DependencyGraph;
    static constexpr const char* name = "DependencyGraph";
    static constexpr const char* native = "quelbo::DependencyGraph";
};

void add_dependency_graph(Methods& m)
{
    m.add<&DependencyGraph__has_common_ancestor>(
        "DependencyGraph__has_common_ancestor", METH_VARARGS,
        "\nIndicates if two views share a common ancestor.\n\n"
        ":type view1: :py:class:`View`\n"
        ":param view1: First view to take into account\n"
        ":type view2: :py:class:`View`\n"
        ":param view2: Second view to take into account\n\n"
        ":rtype: int\n"
        ":return: SHARE_ANCESTOR if the two given views share at least one common ancestor.\n"
        ":rtype: int\n"
        ":return: SHARE_NO_ANCESTOR if the two given views don't share any ancestor.\n"
        ":rtype: int\n"
        ":return: UNDETERMINED if the information could not be determined (dependency graph is not complete).\n");
    ClassOps<DependencyGraphTr>::add<&ClassOps<DependencyGraphTr>::new_default>(m);
}

} // namespace

QW_FAMILY(order::dependency_graph, &add_dependency_graph);

} // namespace qw

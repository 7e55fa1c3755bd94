// DependencyGraph: whether two views share an ancestor.
#include "quelbo/dependency_graph.h"
#include "quelbo/view.h"
#include "runtime/members.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"
#include "native_types.h"

namespace qw {
namespace {

QW_TYPE(quelbo::DependencyGraph);

using ViewArg = SharedArg<quelbo::View>;

using DependencyGraphTr = Traits<quelbo::DependencyGraph>;

void add_dependency_graph(Methods& m)
{
    m.add<Fn<QW_NAME("DependencyGraph__has_common_ancestor"), &quelbo::DependencyGraph::hasCommonAncestor, ViewArg,
             ViewArg>>(
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
    add_class<DependencyGraphTr, NewDefault>(m);
}

} // namespace

QW_FAMILY(&add_dependency_graph);

} // namespace qw

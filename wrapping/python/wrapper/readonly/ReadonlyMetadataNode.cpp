// ReadonlyMetadataNode: the read-only view of a metadata node.
#include "readonly/ReadonlyMetadataNode.h"

#include "properties.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::MetadataNode;
using quelbo::ReadonlyMetadataNode;

using WrapperTr = Traits<ReadonlyMetadataNode>;

constexpr auto kNodeConst = named<std::shared_ptr<const quelbo::MetadataNode>>;
using Wrapper = WrapperSelf<ReadonlyMetadataNode, &WrapperTr::self_type>;

struct new_wrapper : Declare<new_wrapper, Params<SharedArg<MetadataNode, kNodeConst>>>
{
    static constexpr const char* name = "new_ReadonlyMetadataNode";
    static constexpr auto call = [](const std::shared_ptr<MetadataNode>& node) {
        return constructed(new ReadonlyMetadataNode(node));
    };
};

void add_readonly_metadata(Methods& m)
{
    using W = ReadonlyMetadataNode;
    m.add<new_wrapper>();
    add_wrapper_getter<WrapperTr, QW_NAME("clone"), &W::clone>(m, "Proxy for MetadataNode::clone.");
    add_wrapper_getter<WrapperTr, QW_NAME("get_key"), &W::get_key>(m, "Proxy for MetadataNode::key.");
    add_wrapper_getter<WrapperTr, QW_NAME("get_value"), &W::get_value>(m, "Proxy for MetadataNode::value.");
    add_wrapper_getter<WrapperTr, QW_NAME("get_child_count"), &W::get_child_count>(
        m, "Proxy for MetadataNode::childCount.");
    m.add<Fn<QW_NAME("ReadonlyMetadataNode_has_child"), &ReadonlyMetadataNode::has_child, Wrapper, Key>>(
        "Proxy for MetadataNode::hasChild.");
    m.add<Fn<QW_NAME("ReadonlyMetadataNode_child"), &ReadonlyMetadataNode::child, Wrapper, Key>>(
        "Proxy for MetadataNode::child.");
    add_wrapper_getter<WrapperTr, QW_NAME("__begin"), &W::begin>(m, "Proxy for MetadataNode::cbegin.");
    add_wrapper_getter<WrapperTr, QW_NAME("__end"), &W::end>(m, "Proxy for MetadataNode::cend.");
    add_wrapper_getter<WrapperTr, QW_NAME("to_string"), &W::to_string>(m, "Proxy for MetadataNode::toString.");
    m.add<Delete<WrapperTr>>();
    add_hooks<W>(m, WrapperTr::name);
}

QW_FAMILY(add_readonly_metadata);

} // namespace

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

constexpr char kHasChild[] = "ReadonlyMetadataNode_has_child";
constexpr char kChild[] = "ReadonlyMetadataNode_child";
constexpr char kClone[] = "clone";
constexpr char kGetKey[] = "get_key";
constexpr char kGetValue[] = "get_value";
constexpr char kGetChildCount[] = "get_child_count";
constexpr char kBegin[] = "__begin";
constexpr char kEnd[] = "__end";
constexpr char kToString[] = "to_string";

void add_readonly_metadata(Methods& m)
{
    using W = ReadonlyMetadataNode;
    m.add<new_wrapper>();
    add_wrapper_getter<WrapperTr, kClone, &W::clone>(m, "Proxy for MetadataNode::clone.");
    add_wrapper_getter<WrapperTr, kGetKey, &W::get_key>(m, "Proxy for MetadataNode::key.");
    add_wrapper_getter<WrapperTr, kGetValue, &W::get_value>(m, "Proxy for MetadataNode::value.");
    add_wrapper_getter<WrapperTr, kGetChildCount, &W::get_child_count>(m, "Proxy for MetadataNode::childCount.");
    m.add<Fn<kHasChild, &ReadonlyMetadataNode::has_child, Wrapper, Key>>("Proxy for MetadataNode::hasChild.");
    m.add<Fn<kChild, &ReadonlyMetadataNode::child, Wrapper, Key>>("Proxy for MetadataNode::child.");
    add_wrapper_getter<WrapperTr, kBegin, &W::begin>(m, "Proxy for MetadataNode::cbegin.");
    add_wrapper_getter<WrapperTr, kEnd, &W::end>(m, "Proxy for MetadataNode::cend.");
    add_wrapper_getter<WrapperTr, kToString, &W::to_string>(m, "Proxy for MetadataNode::toString.");
    m.add<Delete<WrapperTr>>();
    add_hooks<W>(m, WrapperTr::name);
}

QW_FAMILY(add_readonly_metadata);

} // namespace

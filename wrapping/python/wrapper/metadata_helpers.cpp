// MetadataNodeFactory and MetadataNodeHelper: nodes by key and value, and by path.
#include "properties.h"
#include "quelbo/metadata.h"
#include "readonly/readonly_args.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::MetadataNode;
using quelbo::MetadataNodeFactory;
using quelbo::MetadataNodeHelper;
using quelbo::VariantDataValue;

QW_TYPE(MetadataNodeFactory);
QW_TYPE(MetadataNodeHelper);

using FactoryTr = Traits<MetadataNodeFactory>;

using HelperTr = Traits<MetadataNodeHelper>;

constexpr auto kPathType = named<const std::string&>;

// A root or origin (node or read-only node) that must be given: None is
// refused once the arguments after it are read.
template <class T, auto Text = named<std::shared_ptr<T>>>
struct Given : ProxyShared<T, Text>
{
    static bool verify(const std::shared_ptr<T>& v, const ArgId& a)
    {
        if (!v)
            fail_null(a);
        return v != nullptr;
    }
};

using Path = Arg<std::string, kPathType>;

struct create_path : Declare<create_path, Params<Given<MetadataNode>, Path, SharedArg<VariantDataValue>>>
{
    static constexpr const char* name = "MetadataNodeHelper_create_path";
    static constexpr const char* doc =
        "\nCreate the missing nodes of a path below the origin. The value, if any, becomes the\n"
        "value of the last node of the path; when the whole path exists the last node is\n"
        "replaced by a new one carrying the value.\n"
        ":rtype: MetadataNode\n:return: the origin node\n";
    static constexpr auto call = &MetadataNodeHelper::createPath;
};

void add_metadata_helpers(Methods& m)
{
    m.add<Fn<QW_NAME("MetadataNodeFactory_create"), &MetadataNodeFactory::create, Arg<std::string, kPathType>,
             SharedArg<VariantDataValue>>>("\nCreate a node\n"
                                           ":type key: string\n:param key: the key of the node\n"
                                           ":type value: VariantDataValue\n:param value: the value of the node, can be "
                                           "null if no value\n"
                                           ":rtype: MetadataNode\n:return: the created node\n");
    m.add<Delete<FactoryTr>>();
    add_hooks<MetadataNodeFactory>(m, FactoryTr::name, false);
    m.add<NewDefault<HelperTr>>();
    m.add<Fn<QW_NAME("MetadataNodeHelper_get_node"), &MetadataNodeHelper::getNode, Given<const MetadataNode>, Path>>(
        "\nGet the node following the path from the root. A path is a chain of child keys\n"
        "separated by / or \\, a leading separator is optional: /A/B/C, A/B/C and \\A\\B\\C\n"
        "name the same node. Wildcards and regular expressions are not supported.\n"
        ":rtype: MetadataNode\n:return: the node, None if there is no node at this path\n");
    m.add<Fn<QW_NAME("MetadataNodeHelper_exists"), &MetadataNodeHelper::exists, Given<const MetadataNode>, Path>>(
        "\nCheck whether the path exists in the tree below the root.\n");
    m.add<create_path>();
    m.add<Delete<HelperTr>>();
    add_hooks<MetadataNodeHelper>(m, HelperTr::name);
}

QW_FAMILY(add_metadata_helpers);

} // namespace

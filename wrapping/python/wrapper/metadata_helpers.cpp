// MetadataNodeFactory and MetadataNodeHelper: nodes by key and value, and by path.
#include "properties.h"
#include "quelbo/metadata.h"
#include "runtime/members.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::MetadataNode;
using quelbo::MetadataNodeFactory;
using quelbo::MetadataNodeHelper;
using quelbo::VariantDataValue;

QW_TYPE(MetadataNodeFactory, "_p_quelbo__MetadataNodeFactory");
QW_TYPE(MetadataNodeHelper, "_p_quelbo__MetadataNodeHelper");

struct FactoryTr
{
    using T = MetadataNodeFactory;
    static constexpr const char* name = "MetadataNodeFactory";
    static constexpr const char* native = "quelbo::MetadataNodeFactory";
};

struct HelperTr
{
    using T = MetadataNodeHelper;
    static constexpr const char* name = "MetadataNodeHelper";
    static constexpr const char* native = "quelbo::MetadataNodeHelper";
};

constexpr char kPathType[] = "std::string const &";
constexpr char kValueType[] = "std::shared_ptr< quelbo::VariantDataValue >";

struct create : Declare<create, Params<Arg<std::string, kPathType>, SharedArg<VariantDataValue, kValueType>>>
{
    static constexpr const char* name = "MetadataNodeFactory_create";
    static constexpr const char* doc = "\nCreate a node\n"
                                       ":type key: string\n:param key: the key of the node\n"
                                       ":type value: VariantDataValue\n:param value: the value of the node, can be "
                                       "null if no value\n"
                                       ":rtype: MetadataNode\n:return: the created node\n";
    static constexpr auto call = &MetadataNodeFactory::create;
};

// get_node / exists: a root (node, read-only node; None refused) and a path.
bool root_and_path(PyObject* args, const char* fn, std::shared_ptr<const MetadataNode>& root, std::string& path)
{
    PyObject* a[2];
    const ArgId root_arg{fn, 1, "std::shared_ptr< quelbo::MetadataNode const >"};
    if (!unpack(fn, args, 2, 2, a) || !proxy_shared_arg(a[0], root_arg, root) || !arg(a[1], {fn, 2, kPathType}, path))
        return false;
    if (!root) {
        fail_null(root_arg);
        return false;
    }
    return true;
}

PyObject* MetadataNodeHelper_get_node(PyObject*, PyObject* args)
{
    std::shared_ptr<const MetadataNode> root;
    std::string path;
    if (!root_and_path(args, "MetadataNodeHelper_get_node", root, path))
        return nullptr;
    return call([&] { return shared(MetadataNodeHelper::getNode(root, path)); });
}

PyObject* MetadataNodeHelper_exists(PyObject*, PyObject* args)
{
    std::shared_ptr<const MetadataNode> root;
    std::string path;
    if (!root_and_path(args, "MetadataNodeHelper_exists", root, path))
        return nullptr;
    return call([&] { return to_py(MetadataNodeHelper::exists(root, path)); });
}

PyObject* MetadataNodeHelper_create_path(PyObject*, PyObject* args)
{
    static const char* fn = "MetadataNodeHelper_create_path";
    static const ArgId origin_arg{fn, 1, "std::shared_ptr< quelbo::MetadataNode >"};
    PyObject* a[3];
    std::shared_ptr<MetadataNode> origin;
    std::string path;
    std::shared_ptr<VariantDataValue> value;
    if (!unpack(fn, args, 3, 3, a) || !proxy_shared_arg(a[0], origin_arg, origin) ||
        !arg(a[1], {fn, 2, kPathType}, path) || !shared_arg(a[2], {fn, 3, kValueType}, value))
        return nullptr;
    if (!origin) {
        fail_null(origin_arg);
        return nullptr;
    }
    return call([&] { return shared(MetadataNodeHelper::createPath(origin, path, value)); });
}

void add_metadata_helpers(Methods& m)
{
    m.add<create>();
    m.add<Delete<FactoryTr>>();
    add_hooks<MetadataNodeFactory>(m, FactoryTr::name, false);
    m.add<NewDefault<HelperTr>>();
    m.add<&MetadataNodeHelper_get_node>(
        "MetadataNodeHelper_get_node", METH_VARARGS,
        "\nGet the node following the path from the root. A path is a chain of child keys\n"
        "separated by / or \\, a leading separator is optional: /A/B/C, A/B/C and \\A\\B\\C\n"
        "name the same node. Wildcards and regular expressions are not supported.\n"
        ":rtype: MetadataNode\n:return: the node, None if there is no node at this path\n");
    m.add<&MetadataNodeHelper_exists>("MetadataNodeHelper_exists", METH_VARARGS,
                                      "\nCheck whether the path exists in the tree below the root.\n");
    m.add<&MetadataNodeHelper_create_path>(
        "MetadataNodeHelper_create_path", METH_VARARGS,
        "\nCreate the missing nodes of a path below the origin. The value, if any, becomes the\n"
        "value of the last node of the path; when the whole path exists the last node is\n"
        "replaced by a new one carrying the value.\n"
        ":rtype: MetadataNode\n:return: the origin node\n");
    m.add<Delete<HelperTr>>();
    add_hooks<MetadataNodeHelper>(m, HelperTr::name);
}

QW_FAMILY(order::metadata_helpers, add_metadata_helpers);

} // namespace

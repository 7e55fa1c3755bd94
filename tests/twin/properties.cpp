// Test-only makers for the property and metadata families: typed pointers,
// iterator position objects, bare (unshared) nodes and properties, variant
// values of any type laid out byte by byte, and the identity of a node.
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "quelbo/image_properties.h"
#include "quelbo/metadata.h"
#include "readonly/property_types.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"
#include "typed_pointers.h"

namespace {

using namespace qw;
using quelbo::DataType;
using quelbo::ImageProperties;
using quelbo::MetadataNode;
using quelbo::VariantDataValue;

QW_TYPED_POINTER_TYPES()
QW_PROPERTY_TYPES();

// Memory behind the typed pointers handed out: it lives until the module goes.
std::deque<std::vector<char>>& buffers()
{
    static std::deque<std::vector<char>> b;
    return b;
}

// typed_pointer(kind, bytes): a pointer handle of `kind` ("uint8" ... "double")
// over a copy of the bytes; not owned.
PyObject* typed_pointer(PyObject*, PyObject* args)
{
    const char* kind;
    const char* data;
    Py_ssize_t size;
    if (!PyArg_ParseTuple(args, "sy#", &kind, &data, &size))
        return nullptr;
    static const std::pair<const char*, swig_type_info* (*)()> kinds[] = {
        {"uint8", &type_of<uint8_t>},   {"uint16", &type_of<uint16_t>}, {"uint32", &type_of<uint32_t>},
        {"uint64", &type_of<uint64_t>}, {"int8", &type_of<int8_t>},     {"int16", &type_of<int16_t>},
        {"int32", &type_of<int32_t>},   {"int64", &type_of<int64_t>},   {"float", &type_of<float>},
        {"double", &type_of<double>}};
    for (const auto& k : kinds) {
        if (std::strcmp(k.first, kind) != 0)
            continue;
        buffers().emplace_back(data, data + size);
        buffers().back().resize(size_t(size) + 8); // room for the alignment of an empty array
        return new_pointer_obj(buffers().back().data(), k.second(), 0);
    }
    PyErr_SetString(PyExc_ValueError, "unknown kind");
    return nullptr;
}

// A value of any type over bytes laid out by the caller.
class RawValue final : public VariantDataValue
{
public:
    RawValue(DataType type, std::vector<char> bytes, size_t count)
        : m_type(type), m_bytes(std::move(bytes)), m_count(count)
    {}
    std::shared_ptr<VariantDataValue> clone() const override
    {
        return std::make_shared<RawValue>(m_type, m_bytes, m_count);
    }
    DataType type() const override { return m_type; }
    size_t count() const override { return m_count; }
    const void* raw() const override { return m_bytes.data(); }

protected:
    DataType m_type;
    std::vector<char> m_bytes;
    size_t m_count;
};

// String elements: each item bytes (followed by four zero bytes) or None (a null pointer).
class TextValue final : public VariantDataValue
{
public:
    TextValue(DataType type, std::vector<std::string> texts, std::vector<bool> null)
        : m_type(type), m_texts(std::move(texts)), m_null(std::move(null))
    {
        for (size_t i = 0; i < m_texts.size(); ++i)
            m_pointers.push_back(m_null[i] ? nullptr : m_texts[i].c_str());
    }
    std::shared_ptr<VariantDataValue> clone() const override
    {
        return std::make_shared<TextValue>(m_type, m_texts, m_null);
    }
    DataType type() const override { return m_type; }
    size_t count() const override { return m_pointers.size(); }
    const void* raw() const override { return m_pointers.data(); }

private:
    DataType m_type;
    std::vector<std::string> m_texts;
    std::vector<bool> m_null;
    std::vector<const char*> m_pointers;
};

// raw_value(type id, bytes, count)
PyObject* raw_value(PyObject*, PyObject* args)
{
    unsigned long long id, count;
    const char* data;
    Py_ssize_t size;
    if (!PyArg_ParseTuple(args, "Ky#K", &id, &data, &size, &count))
        return nullptr;
    return call([&] {
        return shared<VariantDataValue>(
            std::make_shared<RawValue>(DataType(uint64_t(id)), std::vector<char>(data, data + size), count));
    });
}

// text_value(type id, [bytes or None, ...])
PyObject* text_value(PyObject*, PyObject* args)
{
    unsigned long long id;
    PyObject* items;
    if (!PyArg_ParseTuple(args, "KO!", &id, &PyList_Type, &items))
        return nullptr;
    std::vector<std::string> texts;
    std::vector<bool> null;
    for (Py_ssize_t i = 0; i < PyList_Size(items); ++i) {
        PyObject* item = PyList_GetItem(items, i);
        null.push_back(item == Py_None);
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (item != Py_None && PyBytes_AsStringAndSize(item, &data, &size) < 0)
            return nullptr;
        texts.emplace_back(data ? std::string(data, size_t(size)) : std::string());
        texts.back().append(4, '\0');
    }
    return call(
        [&] { return shared<VariantDataValue>(std::make_shared<TextValue>(DataType(uint64_t(id)), texts, null)); });
}

// Bare objects of shared classes: owned handles get a destructor here, as
// no class is registered for them.
template <class T>
PyObject* delete_bare(PyObject*, PyObject* handle)
{
    auto* h = reinterpret_cast<SwigPyObject*>(handle);
    if (h->own && h->ptr)
        dispose(static_cast<T*>(h->ptr));
    h->own = 0;
    h->ptr = nullptr;
    Py_RETURN_NONE;
}

template <class T>
PyObject* bare(T* object, bool owned)
{
    static PyMethodDef def = {"delete_bare", &delete_bare<T>, METH_O, nullptr};
    swig_type_info* ty = type_of<T>();
    if (!attach_destroy(ty, &def)) {
        if (owned)
            delete object;
        return nullptr;
    }
    if (!owned) {
        // Not owned: kept until the module goes, like the typed buffers.
        static std::deque<std::unique_ptr<T>> kept;
        kept.emplace_back(object);
    }
    return new_pointer_obj(object, ty, owned ? RES_OWN : 0);
}

// bare_node(key, owned)
PyObject* bare_node(PyObject*, PyObject* args)
{
    const char* key;
    int owned;
    if (!PyArg_ParseTuple(args, "sp", &key, &owned))
        return nullptr;
    return call(
        [&] { return bare(new MetadataNode(key, quelbo::VariantDataValueFactory::create(int64_t(7))), owned); });
}

// bare_properties(data type id, owned)
PyObject* bare_properties(PyObject*, PyObject* args)
{
    unsigned long long id;
    int owned;
    if (!PyArg_ParseTuple(args, "Kp", &id, &owned))
        return nullptr;
    return call(
        [&] { return bare(new ImageProperties(*ImageProperties::fromDataType(DataType(uint64_t(id)))), owned); });
}

// iterator_object(node, const): a position object at the node's first child, owned.
PyObject* iterator_object(PyObject*, PyObject* args)
{
    PyObject* node_obj;
    int is_const;
    if (!PyArg_ParseTuple(args, "Op", &node_obj, &is_const))
        return nullptr;
    std::shared_ptr<MetadataNode> node;
    if (!shared_arg(node_obj, {"iterator_object", 1, "std::shared_ptr< quelbo::MetadataNode >"}, node))
        return nullptr;
    return call([&] {
        if (is_const)
            return bare(new quelbo::ConstMetadataIteratorObject(node), true);
        return bare(new quelbo::MetadataIteratorObject(node), true);
    });
}

// node_address(node): the address of the node itself, which tells whether
// two handles (two places of a graph) reach the same node.
PyObject* node_address(PyObject*, PyObject* o)
{
    std::shared_ptr<MetadataNode> node;
    if (!shared_arg(o, {"node_address", 1, "std::shared_ptr< quelbo::MetadataNode >"}, node))
        return nullptr;
    return PyLong_FromVoidPtr(node.get());
}

void add_properties_twin(Methods& m)
{
    m.add<&typed_pointer>("typed_pointer", METH_VARARGS);
    m.add<&raw_value>("raw_value", METH_VARARGS);
    m.add<&text_value>("text_value", METH_VARARGS);
    m.add<&bare_node>("bare_node", METH_VARARGS);
    m.add<&bare_properties>("bare_properties", METH_VARARGS);
    m.add<&iterator_object>("iterator_object", METH_VARARGS);
    m.add<&node_address>("node_address", METH_O);
}

QW_FAMILY(add_properties_twin);

} // namespace

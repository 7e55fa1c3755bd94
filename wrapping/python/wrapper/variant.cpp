// VariantDataValue, the value of a metadata node, and its factory.
#include <cstring>

#include "extensions.h"
#include "properties.h"
#include "quelbo/data_type_traits.h"
#include "quelbo/metadata.h"
#include "runtime/members.h"
#include "runtime/keepalive.h"
#include "typed_pointers.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::DataType;
using quelbo::VariantDataValue;
using quelbo::VariantDataValueFactory;
using Value = std::shared_ptr<VariantDataValue>;

QW_TYPE(VariantDataValueFactory);
QW_TYPE(void);
// Typed pointers, which only other modules sharing the type table make.
QW_TYPED_POINTER_TYPES()

using ValueTr = Traits<VariantDataValue>;
using HandleTr = SharedTraits<VariantDataValue>;

using FactoryTr = Traits<VariantDataValueFactory>;

// ----------------------------------------------------------------- values

struct raw : Declare<raw, Params<SharedHeld<VariantDataValue, &ValueTr::self_type>>>
{
    static constexpr const char* name = "VariantDataValue_raw";
    static constexpr const char* doc =
        "\nReturns a pointer to the location where all the values are stored continuously.\n"
        "Use VariantDataValueConverter to convert the value to basic types.\n";
    // The pointer handle keeps the value alive: it never points at freed memory.
    static constexpr auto call = [](const Value& v) { return borrowed_from(v->raw(), v); };
};

template <class T>
T read_at(const void* raw, size_t index)
{
    T v;
    std::memcpy(&v, static_cast<const char*>(raw) + index * sizeof(T), sizeof(T));
    return v;
}

template <class U>
PyObject* read_number(const void* raw, size_t index)
{
    return to_py(read_at<U>(raw, index));
}

// A zero-terminated run of code units, decoded with "replace"; a byte-order
// mark at the start of UTF-16 and UTF-32 text chooses the order and is dropped.
template <class Unit>
PyObject* read_text(const void* raw, size_t index)
{
    const auto* s = read_at<const char*>(raw, index);
    if (!s)
        return from_string("", 0);
    size_t n = 0;
    Unit unit;
    for (;; ++n) {
        std::memcpy(&unit, s + n * sizeof(Unit), sizeof(Unit));
        if (unit == 0)
            break;
    }
    int order = 0;
    if constexpr (sizeof(Unit) == 1)
        return PyUnicode_DecodeUTF8(s, Py_ssize_t(n), "replace");
    else if constexpr (sizeof(Unit) == 2)
        return PyUnicode_DecodeUTF16(s, Py_ssize_t(n * 2), "replace", &order);
    else
        return PyUnicode_DecodeUTF32(s, Py_ssize_t(n * 4), "replace", &order);
}

// One stored element as a Python value; null (no error) for a type that
// cannot be decoded.
PyObject* decode(DataType type, const void* raw, size_t index)
{
    return quelbo::visitElementOrText(
        type,
        [&](auto tag) -> PyObject* {
            using Tag = decltype(tag);
            if constexpr (!quelbo::isNumericElement<Tag>)
                return read_text<typename Tag::unit>(raw, index);
            else if constexpr (std::is_same<typename Tag::type, float>::value)
                return to_py(double(read_at<float>(raw, index)));
            else
                return read_number<typename Tag::type>(raw, index);
        },
        []() -> PyObject* { return nullptr; });
}

struct getitem : Declare<getitem, Params<SharedSelf<VariantDataValue, &ValueTr::mut_type>, Arg<int32_t, text::integer>>>
{
    static constexpr const char* name = "VariantDataValue___getitem";
    static constexpr auto call = [](VariantDataValue* v, int32_t index) -> PyObject* {
        const DataType type = v->type();
        const void* raw = v->raw();
        const size_t count = v->count();
        if (index < 0 || size_t(index) >= count) {
            PyErr_SetString(PyExc_IndexError, "Index out of range");
            return nullptr;
        }
        PyObject* r = decode(type, raw, size_t(index));
        if (!r && !PyErr_Occurred())
            PyErr_Format(PyExc_ValueError, "Incompatible type %s", type.toString().c_str());
        return r;
    };
};

void add_variant(Methods& m)
{
    add_shared_getter<ValueTr, QW_NAME("clone"), &VariantDataValue::clone>(m, "Copies this value.");
    add_shared_getter<ValueTr, QW_NAME("get_type"), &VariantDataValue::type>(m,
                                                                             "Returns the type of the values stored.");
    add_shared_getter<ValueTr, QW_NAME("get_count"), &VariantDataValue::count>(
        m, "Returns the number of values of the specified type stored.");
    m.add<raw>();
    m.add<getitem>();
    m.add<Delete<HandleTr>>();
    add_hooks<Value>(m, "VariantDataValue", false);
}

QW_FAMILY(add_variant);

// ---------------------------------------------------------------- factory

// Items of a list read as one kind. Every item is checked before the library
// reads: the kind of item 0 (TypeError otherwise), integers in the signed
// 64-bit range (OverflowError), texts encodable as UTF-8.
struct Items
{
    PyObject* seq;
    Py_ssize_t n;

    // A borrowed item for exact lists and tuples, a new reference otherwise.
    struct Item
    {
        PyObject* o;
        bool owned;
        ~Item()
        {
            if (owned)
                Py_XDECREF(o);
        }
    };
    Item at(Py_ssize_t i) const
    {
        if (PyList_CheckExact(seq))
            return {PyList_GetItem(seq, i), false};
        if (PyTuple_CheckExact(seq))
            return {PyTuple_GetItem(seq, i), false};
        return {PySequence_GetItem(seq, i), true};
    }

    static bool type_error(const char* text)
    {
        PyErr_SetString(PyExc_TypeError, text);
        return false;
    }

    bool ints(std::vector<int64_t>& out) const
    {
        out.resize(size_t(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Item item = at(i);
            if (!item.o)
                return false;
            if (!PyLong_Check(item.o))
                return type_error("invalid item in sequence - expected long value");
            int overflow = 0;
            long long v = PyLong_AsLongLongAndOverflow(item.o, &overflow);
            if (overflow) {
                PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
                return false;
            }
            if (v == -1 && PyErr_Occurred())
                return false;
            out[size_t(i)] = v;
        }
        return true;
    }

    bool doubles(std::vector<double>& out) const
    {
        out.resize(size_t(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Item item = at(i);
            if (!item.o)
                return false;
            if (as_double(item.o, out[size_t(i)]) != OK)
                return type_error("invalid item in sequence - expected long or float value");
        }
        return true;
    }

    // The texts of the first `count` items, each encoded as UTF-8.
    bool texts(std::vector<std::string>& out, size_t count) const
    {
        out.resize(count);
        for (size_t i = 0; i < count; ++i) {
            Item item = at(Py_ssize_t(i));
            if (!item.o)
                return false;
            if (!PyUnicode_Check(item.o))
                return type_error("invalid item in sequence - expected str value");
            if (!utf8(item.o, out[i]))
                return false;
        }
        return true;
    }

    static bool utf8(PyObject* s, std::string& out)
    {
        PyObject* bytes = PyUnicode_AsUTF8String(s);
        if (!bytes)
            return false;
        char* data;
        Py_ssize_t len;
        PyBytes_AsStringAndSize(bytes, &data, &len);
        out.assign(data, size_t(len));
        Py_DECREF(bytes);
        return true;
    }
};

PyObject* create_texts(const std::vector<std::string>& texts, size_t count)
{
    std::vector<const char*> pointers(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        pointers[i] = texts[i].c_str();
    return shared(VariantDataValueFactory::create(pointers.data(), count));
}

PyObject* fail_value(const char* text)
{
    PyErr_SetString(PyExc_ValueError, text);
    return nullptr;
}

// The one-argument form: a number, a text or a list of one kind.
using Any = WithId<Object<text::object>>;

PyObject* create_from(const Any::value& any)
{
    PyObject* o = any.v;
    if (PySequence_Check(o)) {
        std::string text;
        if (PyUnicode_Check(o)) {
            if (!Items::utf8(o, text))
                return nullptr;
            return shared(VariantDataValueFactory::create(text.c_str()));
        }
        const Py_ssize_t n = PySequence_Size(o);
        if (n < 0)
            return nullptr;
        if (n == 0)
            return fail_value("Cannot create metadata value from an empty sequence");
        const Items items{o, n};
        Items::Item first = items.at(0);
        if (!first.o)
            return nullptr;
        if (PyLong_Check(first.o)) {
            std::vector<int64_t> values;
            if (!items.ints(values))
                return nullptr;
            return shared(VariantDataValueFactory::create(values.data(), values.size()));
        }
        if (PyFloat_Check(first.o)) {
            std::vector<double> values;
            if (!items.doubles(values))
                return nullptr;
            return shared(VariantDataValueFactory::create(values.data(), values.size()));
        }
        if (PyUnicode_Check(first.o)) {
            std::vector<std::string> texts;
            if (!items.texts(texts, size_t(n)))
                return nullptr;
            return create_texts(texts, texts.size());
        }
        return fail_value("Cannot create metadata value from this sequence");
    }
    if (PyLong_Check(o)) {
        int64_t v;
        if (!arg(o, {any.id.fn, any.id.num, "int64_t"}, v))
            return nullptr;
        return shared(VariantDataValueFactory::create(v));
    }
    if (PyFloat_Check(o))
        return shared(VariantDataValueFactory::create(PyFloat_AsDouble(o)));
    return fail_value("Cannot create metadata value from this value");
}

// The two-argument forms: the element type's values, or texts, and their count.
using Count = Arg<size_t, text::size>;
constexpr const char* kCreateMember = member_of<VariantDataValueFactory, QW_NAME("create")>;

template <class T>
struct Element;
#define QW_ELEMENT(T, S, ID)                                                                                           \
    template <>                                                                                                        \
    struct Element<T>                                                                                                  \
    {                                                                                                                  \
        static constexpr const char* values = #T " const *";                                                           \
    };
QUELBO_ELEMENT_TYPES(QW_ELEMENT)
#undef QW_ELEMENT

// A typed pointer to the values (None: null); its messages name the pointer
// type as the type table prints it.
template <class T>
struct Values : Ptr<T, &Element<T>::values>
{
    static bool get(PyObject* o, const ArgId& a, T*& v)
    {
        static const char* type = joined(pretty_name(type_of<T>()), "");
        return ptr(o, {a.fn, a.num, type}, v);
    }
};

template <class T, int Decl>
struct from_values : Candidate<Params<Values<T>, Count>, Decl>
{
    static constexpr const char* member = kCreateMember;
    static constexpr auto call = [](const T* values, size_t count) -> PyObject* {
        if (!values && count != 0)
            return fail_value("a null pointer takes a count of 0");
        return shared(VariantDataValueFactory::create(values, count));
    };
};

// A sequence of texts, not a text itself, read by the call.
struct Texts : Object<QW_NAME("char const **")>
{
    static bool check(PyObject* o)
    {
        if (PyUnicode_Check(o) || !PySequence_Check(o))
            return false;
        const Py_ssize_t n = PySequence_Size(o);
        if (n < 0) {
            PyErr_Clear();
            return false;
        }
        const Items items{o, n};
        for (Py_ssize_t i = 0; i < n; ++i) {
            Items::Item item = items.at(i);
            if (!item.o || !PyUnicode_Check(item.o)) {
                PyErr_Clear();
                return false;
            }
        }
        return true;
    }
};

struct from_texts : Candidate<Params<Texts, Count>, 10>
{
    static constexpr const char* member = kCreateMember;
    static constexpr auto call = [](PyObject* list, size_t count) -> PyObject* {
        const Py_ssize_t n = PySequence_Size(list);
        if (n < 0)
            return nullptr;
        if (count > size_t(n))
            return fail_value("the count is larger than the list of texts");
        std::vector<std::string> texts;
        if (!Items{list, n}.texts(texts, count))
            return nullptr;
        return create_texts(texts, count);
    };
};

struct from_any : Candidate<Params<Any>, 11>
{
    static constexpr const char* member =
        member_of<VariantDataValueFactory, QW_NAME("quelbo_VariantDataValueFactory_create__SWIG_11")>;
    static constexpr auto call = &create_from;
};

// The interface tries the element types in its own order, not the list's: uint8_t last.
struct factory_create : DeclareOverloads<factory_create, from_values<uint16_t, 1>, from_values<uint32_t, 2>,
                                         from_values<uint64_t, 3>, from_values<int8_t, 4>, from_values<int16_t, 5>,
                                         from_values<int32_t, 6>, from_values<int64_t, 7>, from_values<float, 8>,
                                         from_values<double, 9>, from_values<uint8_t, 0>, from_texts, from_any>
{
    static constexpr const char* name = "VariantDataValueFactory_create";
};

void add_variant_factory(Methods& m)
{
    m.add<factory_create>();
    m.add<Delete<FactoryTr>>();
    add_hooks<VariantDataValueFactory>(m, "VariantDataValueFactory", false);
}

QW_FAMILY(add_variant_factory);

} // namespace

// The data frame family: the view's traits and the argument kinds of its
// lists of column names and column types (sequenceToStringArray,
// sequenceToDataTypeArray), also the strings of a column.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "common/int_list.h"
#include "extensions.h"
#include "quelbo/data_frame.h"
#include "runtime/item_parser.h"
#include "native_types.h"

namespace qw {

using FrameTr = Traits<quelbo::DataFrameView>;
using FramePtr = std::shared_ptr<quelbo::DataFrameView>;

// A str encoded as UTF-8, whole (embedded NUL kept); UnicodeEncodeError for
// a str that cannot be encoded. The caller has checked that o is a str.
inline bool utf8(PyObject* o, std::string& out)
{
    PyObject* bytes = PyUnicode_AsUTF8String(o);
    if (!bytes)
        return false;
    char* data = nullptr;
    Py_ssize_t n = 0;
    PyBytes_AsStringAndSize(bytes, &data, &n);
    out.assign(data, size_t(n));
    Py_DECREF(bytes);
    return true;
}

// A list of column names or of the strings of a column. Only a sequence that
// takes item assignment (not a str, not a tuple) is a list here: the strings
// are written back into it after the library call.
inline bool is_string_list(PyObject* o)
{
    return PySequence_Check(o) && !PyUnicode_Check(o) && PyObject_HasAttrString(o, "__setitem__");
}

class StringList
{
public:
    // TypeError "not a list" or "list must contains strings"; the str items
    // encoded as UTF-8.
    bool take(PyObject* o)
    {
        static const char* kNotList = "not a list";
        static const char* kItem = "list must contains strings";
        if (!is_string_list(o)) {
            PyErr_SetString(PyExc_TypeError, kNotList);
            return false;
        }
        m_list = o;
        const Py_ssize_t n = PySequence_Size(o);
        if (n < 0)
            return false;
        m_items.assign(size_t(n), std::string());
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = PySequence_GetItem(o, i);
            if (!item)
                return false;
            const bool text = PyUnicode_Check(item);
            const bool ok = text && utf8(item, m_items[size_t(i)]);
            Py_DECREF(item);
            if (!text)
                PyErr_SetString(PyExc_TypeError, kItem);
            if (!ok)
                return false;
        }
        return true;
    }

    std::string* data() { return m_items.data(); }
    size_t size() const { return m_items.size(); }
    std::vector<std::string> const& items() const { return m_items; }

    // The call's result once the strings are written back into the list: on
    // a failed write-back the result is dropped and the error raised.
    PyObject* returned(PyObject* result) const
    {
        if (result && !give_back()) {
            Py_DECREF(result);
            return nullptr;
        }
        return result;
    }

private:
    // Replaces the items of the list by the strings, decoded as UTF-8
    // (strict). Every string is decoded before the first item changes: a
    // string that is not UTF-8 raises UnicodeDecodeError and leaves the list
    // as it was.
    bool give_back() const
    {
        Py_ssize_t n = PySequence_Size(m_list);
        if (n < 0)
            return false;
        n = std::min(n, Py_ssize_t(m_items.size()));
        std::vector<PyObject*> decoded;
        decoded.reserve(size_t(n));
        bool ok = true;
        for (Py_ssize_t i = 0; ok && i < n; ++i) {
            std::string const& s = m_items[size_t(i)];
            PyObject* item = PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), nullptr);
            if (item)
                decoded.push_back(item);
            ok = item != nullptr;
        }
        for (Py_ssize_t i = 0; ok && i < Py_ssize_t(decoded.size()); ++i)
            ok = PySequence_SetItem(m_list, i, decoded[size_t(i)]) == 0;
        for (PyObject* item : decoded)
            Py_DECREF(item);
        return ok;
    }

    PyObject* m_list = nullptr; // borrowed: the call's argument tuple holds it
    std::vector<std::string> m_items;
};

// A string list argument (Width native parameters: a vector, or an address
// and a count).
template <auto Text, int Width = 1>
struct Strings : Kind<Text, Width>
{
    using value = StringList;
    static bool check(PyObject* o) { return is_string_list(o); }
    static bool get(PyObject* o, const ArgId&, value& v) { return v.take(o); }
    static value& pass(value& v) { return v; }
};

// A string list as a transfer's block (BlockTransfer): the library moves the
// strings, then they are written back.
template <class F>
PyObject* move_block(StringList& list, F f)
{
    f(list.data(), list.size());
    return list.returned(none());
}

// A list of column types: any sequence of ints (bool included), each the
// 64-bit code of a type read as a signed 64-bit integer. TypeError "not a
// list" or "list must contains longs", OverflowError outside 64 bits.
inline bool dtype_list(PyObject* o, std::vector<quelbo::DataType>& out)
{
    static const char* kItem = "list must contains longs";
    return int_list(o, kItem, out, [](PyObject* item, quelbo::DataType& type) {
        const long long code = PyLong_AsLongLong(item);
        if (code == -1 && PyErr_Occurred())
            return false;
        type = quelbo::DataType(uint64_t(code));
        return true;
    });
}

// A table's description, each part converted in its turn: the shape (two
// ints), the column names, the column types.
inline constexpr auto kColumnNames = named<const std::vector<std::string>&>;
inline constexpr auto kColumnTypes = named<const std::vector<quelbo::DataType>&>;
using TableShape = Seq<quelbo::Vector2u64>;
using ColumnNames = Strings<kColumnNames>;
struct ColumnTypes : Kind<kColumnTypes>
{
    using value = std::vector<quelbo::DataType>;
    static bool check(PyObject* o) { return PySequence_Check(o); }
    static bool get(PyObject* o, const ArgId&, value& v) { return dtype_list(o, v); }
    static value& pass(value& v) { return v; }
};

} // namespace qw

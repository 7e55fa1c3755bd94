// Python sequences into the library's vectors: the per-item parser and the
// whole-sequence conversion used by every vector parameter.
#pragma once

#include <cstdint>
#include <type_traits>

#include "quelbo/error.h"
#include "quelbo/vector.h"
#include "runtime/pyrt.h"

namespace qw {

// Parses one item of a sequence into an element; throws quelbo::Error with
// the element type's message.
template <class T, bool IsFloat>
struct ItemParser
{
    static T parse(PyObject* item)
    {
        // Exact floats and ints are told apart without asking their type.
        const bool exact_int = PyLong_CheckExact(item);
        if constexpr (IsFloat) {
            if (!exact_int && (PyFloat_CheckExact(item) || PyFloat_Check(item)))
                return T(PyFloat_AsDouble(item));
            if (exact_int || PyLong_Check(item))
                return T(double(read_long(item)));
            throw quelbo::Error(message());
        } else {
            if (!exact_int && !PyLong_Check(item))
                throw quelbo::Error(message());
            // Low bits of the signed 64-bit value, as the element type keeps them.
            return T(static_cast<uint64_t>(read_long(item)));
        }
    }

    static const char* message();

private:
    // An int outside the signed 64-bit range leaves its OverflowError pending.
    static int64_t read_long(PyObject* item)
    {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (overflow) {
            PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
            throw OverflowPending();
        }
        if (v == -1 && PyErr_Occurred())
            throw OverflowPending();
        return int64_t(v);
    }

public:
    struct OverflowPending
    {
    };
};

template <class T, bool IsFloat>
const char* ItemParser<T, IsFloat>::message()
{
    return IsFloat ? "invalid item in sequence - expected long or float value"
                   : "invalid item in sequence - expected long value";
}

template <class V>
struct VecInfo;
template <class T, std::size_t N>
struct VecInfo<quelbo::Vector<T, N>>
{
    using Elem = T;
    static constexpr bool dynamic = false;
    static constexpr std::size_t size = N;
};
template <class T>
struct VecInfo<quelbo::VectorX<T>>
{
    using Elem = T;
    static constexpr bool dynamic = true;
    static constexpr std::size_t size = 0;
};

// The overload-dispatch check of a sequence parameter: the protocol alone.
inline bool is_seq(PyObject* o)
{
    return o && PySequence_Check(o);
}

namespace vector_detail {

// Sizes `out` for n items: a dynamic vector takes any count, a fixed one
// only its own.
template <class V>
bool size_for(V& out, Py_ssize_t n)
{
    using Info = VecInfo<V>;
    if (n < 0) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError, "input sequence must be sized");
        return false;
    }
    if constexpr (Info::dynamic) {
        out = V(std::size_t(n));
    } else if (std::size_t(n) != Info::size) {
        PyErr_SetString(PyExc_ValueError, "input sequence has invalid length");
        return false;
    }
    return true;
}

// Parses n items, the i-th given by item(i) (a new or a borrowed reference,
// as release(item) tells), into `out`; the failure of an item is pending.
template <class V, class Item, class Release>
bool parse_items(V& out, Py_ssize_t n, Item item, Release release)
{
    using T = typename VecInfo<V>::Elem;
    using Parser = ItemParser<T, std::is_floating_point<T>::value>;
    try {
        if (!size_for(out, n))
            return false;
        T* data = out.data();
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* one = item(i);
            if (!one)
                return false;
            try {
                data[i] = Parser::parse(one);
            } catch (...) {
                release(one);
                throw;
            }
            release(one);
        }
    } catch (typename Parser::OverflowPending&) {
        return false;
    } catch (quelbo::Error& e) {
        PyErr_SetString(PyExc_TypeError, e.what());
        return false;
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_MemoryError, e.what());
        return false;
    }
    return true;
}

// Any other sequence, read through the protocol, which may run Python code.
template <class V>
[[gnu::noinline]] bool protocol_to_vector(PyObject* o, V& out)
{
    CallGuard running;
    if (!PySequence_Check(o)) {
        PyErr_SetString(PyExc_ValueError, "input must be a sequence");
        return false;
    }
    return parse_items(
        out, PySequence_Size(o), [o](Py_ssize_t i) { return PySequence_GetItem(o, i); },
        [](PyObject* one) { Py_DECREF(one); });
}

} // namespace vector_detail

// Converts the object given for a vector parameter into `out`. On failure a
// Python exception is pending and nothing of `out` should be used.
template <class V>
bool sequence_to_vector(PyObject* o, V& out)
{
    // The items of a list or a tuple are read in place: parsing a number
    // runs no Python code, so the sequence cannot change meanwhile.
    auto in_place = [](PyObject*) {};
    if (PyList_CheckExact(o))
        return vector_detail::parse_items(
            out, PyList_Size(o), [o](Py_ssize_t i) { return PyList_GetItem(o, i); }, in_place);
    if (PyTuple_CheckExact(o))
        return vector_detail::parse_items(
            out, PyTuple_Size(o), [o](Py_ssize_t i) { return PyTuple_GetItem(o, i); }, in_place);
    return vector_detail::protocol_to_vector(o, out);
}

} // namespace qw

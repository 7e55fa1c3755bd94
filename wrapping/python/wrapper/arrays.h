// The ten value-array classes: construction, queries, element access,
// reshaping, text form, comparison and the exchange with numpy arrays. One
// family template over a traits struct per class; each source file declares
// one class.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "common/item_parser.h"
#include "core_args.h"
#include "numpy/numpy_api.h"
#include "quelbo/array.h"
#include "runtime/wrap.h"

namespace qw::arrays {

inline constexpr char kDimensionCount[] = "dimension_count";
inline constexpr char kShape[] = "shape";
inline constexpr char kIndexer[] = "indexer";
inline constexpr char kToString[] = "to_string";

// numpy's base object for an array made over a value array's elements: holds
// `obj` (one reference) and the elements, freed when numpy lets it go.
PyObject* element_holder(PyObject* obj, std::shared_ptr<void> elements);

template <class Tr>
struct Members
{
    using Arr = typename Tr::T;
    using E = typename Arr::ValueType;
    using Shape = quelbo::VectorXu64;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* native(const char* suffix) { return joined(Tr::native, suffix); }

    // ------------------------------------------------------------ lifetime

    static PyObject* new_(PyObject*, PyObject* args)
    {
        static const char* f = joined("new_", Tr::name);
        static const char* ctor = joined(Tr::native, "::ArrayX(");
        static const char* copy_type = native(" const &");
        static const Overloads rows(
            f, {{joined(ctor, "quelbo::Indexer const &)"), 1, 1,
                 [](Args a, Py_ssize_t) { return is_obj<quelbo::Indexer>(a[0]); },
                 [](Args a, Py_ssize_t) -> PyObject* {
                     quelbo::Indexer* indexer;
                     if (!ref(a[0], {f, 1, "quelbo::Indexer const &"}, indexer))
                         return nullptr;
                     return call([&] { return constructed(new Arr(*indexer)); });
                 },
                 1},
                {joined(ctor, copy_type, ")"), 1, 1, [](Args a, Py_ssize_t) { return is_obj<Arr>(a[0]); },
                 [](Args a, Py_ssize_t) -> PyObject* {
                     Arr* other;
                     if (!ref(a[0], {f, 1, copy_type}, other))
                         return nullptr;
                     return call([&] { return constructed(new Arr(*other)); });
                 },
                 2},
                {joined(ctor, "quelbo::VectorXu64 const &)"), 1, 1, [](Args a, Py_ssize_t) { return is_seq(a[0]); },
                 [](Args a, Py_ssize_t) -> PyObject* {
                     Shape shape;
                     if (!sequence_to_vector(a[0], shape))
                         return nullptr;
                     return call([&] { return constructed(new Arr(shape)); });
                 },
                 0},
                // declared, never selected: the copy row takes every array first
                {joined(ctor, native(" &&)")), 1, 1, [](Args, Py_ssize_t) { return false; }, nullptr, 3}});
        return rows(args);
    }

    // ------------------------------------------- element access and reshape

    static PyObject* at(PyObject*, PyObject* args)
    {
        static const char* f = fn("_at");
        static const char* type = native(" const *");
        PyObject* a[2];
        Arr* v;
        Shape index;
        if (!unpack(f, args, 2, 2, a) || !self(a[0], {f, 1, type}, v) || !sequence_to_vector(a[1], index))
            return nullptr;
        return call([&] { return to_py(v->at(index)); });
    }

    static PyObject* set_at(PyObject*, PyObject* args)
    {
        static const char* f = fn("_set_at");
        static const char* type = native(" *");
        PyObject* a[3];
        Arr* v;
        Shape index;
        E value;
        if (!unpack(f, args, 3, 3, a) || !self_mut(a[0], {f, 1, type}, v) || !sequence_to_vector(a[1], index) ||
            !arg(a[2], {f, 3, Tr::elem}, value))
            return nullptr;
        return call([&] {
            v->setAt(index, value);
            return none();
        });
    }

    static PyObject* reshape(PyObject*, PyObject* args)
    {
        static const char* f = fn("_reshape");
        static const char* type = native(" *");
        PyObject* a[2];
        Arr* v;
        Shape shape;
        if (!unpack(f, args, 2, 2, a) || !self_mut(a[0], {f, 1, type}, v) || !sequence_to_vector(a[1], shape))
            return nullptr;
        return call([&] {
            v->reshape(shape);
            return none();
        });
    }

    // ---------------------------------------------------------------- numpy

    // A numpy array over the elements, with a holder of `obj` and of the
    // elements as its base: the elements outlive the value array if need be.
    static PyObject* to_numpy(PyObject*, PyObject* args)
    {
        static const char* f = fn("__to_numpy");
        static const char* type = native(" *");
        PyObject* a[2];
        Arr* v;
        if (!unpack(f, args, 2, 2, a) || !self_mut(a[0], {f, 1, type}, v))
            return nullptr;
        return call([&]() -> PyObject* {
            const quelbo::Indexer& indexer = v->indexer();
            const std::size_t n = indexer.dimensionCount();
            if (n == 0) {
                PyErr_SetString(PyExc_ValueError, "a value array of dimension count 0 has no element to expose");
                return nullptr;
            }
            np::npy_intp small[2 * np::MAXDIMS];
            std::vector<np::npy_intp> large(n > np::MAXDIMS ? 2 * n : 0);
            np::npy_intp* dims = n > np::MAXDIMS ? large.data() : small;
            np::npy_intp* strides = dims + n;
            for (std::size_t i = 0; i < n; ++i) {
                const uint64_t extent = indexer.shape().data()[i];
                if (extent > uint64_t(PY_SSIZE_T_MAX)) {
                    PyErr_SetString(PyExc_ValueError, "a dimension of the value array is too long for numpy");
                    return nullptr;
                }
                dims[i] = np::npy_intp(extent);
                strides[i] = np::npy_intp(indexer.byteStride(i));
            }
            PyObject* holder = element_holder(a[1], v->sharedBuffer());
            if (!holder)
                return nullptr;
            PyObject* array = np::new_array(np::array_type(), int(n), dims, Tr::numpy_type, strides, v->buffer(),
                                            int(sizeof(E)), np::WRITEABLE | np::ALIGNED | np::F_CONTIGUOUS, nullptr);
            if (!array) {
                Py_DECREF(holder);
                return nullptr;
            }
            if (np::set_base_object(array, holder) < 0) { // the holder is gone either way
                Py_DECREF(array);
                return nullptr;
            }
            return array;
        });
    }

    // A new value array holding a copy of the elements of a contiguous numpy
    // array of the class's element type.
    static PyObject* from_numpy(PyObject*, PyObject* o)
    {
        if (!np::is_array(o)) {
            PyErr_SetString(PyExc_TypeError, "Input Numpy Array is not valid");
            return nullptr;
        }
        const np::Array* in = np::fields(o);
        const quelbo::DataType dtype = np::native_order(in) ? np::dtype_of(in->descr->type_num) : quelbo::DataType();
        return call([&]() -> PyObject* {
            if (dtype == quelbo::DataType())
                throw quelbo::Error("Unsupported numpy data type");
            if (dtype != quelbo::DataTypeTraits<E>::toDataType()) {
                PyErr_SetString(PyExc_ValueError, "numpy array data type do not match");
                return nullptr;
            }
            quelbo::MemoryLayout layout;
            if (in->flags & np::C_CONTIGUOUS)
                layout = quelbo::MemoryLayout::C;
            else if (in->flags & np::F_CONTIGUOUS)
                layout = quelbo::MemoryLayout::FORTRAN;
            else {
                PyErr_SetString(PyExc_ValueError, "numpy array has unsupported flags");
                return nullptr;
            }
            if (in->nd == 0) {
                PyErr_SetString(
                    PyExc_ValueError,
                    "a numpy array of dimension count 0 has no value array form (it would lose its element)");
                return nullptr;
            }
            Shape shape(std::size_t(in->nd));
            for (int i = 0; i < in->nd; ++i)
                shape.data()[i] = uint64_t(in->dimensions[i]);
            std::unique_ptr<Arr> result(new Arr(quelbo::Indexer(shape, dtype, layout)));
            const std::size_t count = result->indexer().elementCount();
            if (count != 0)
                std::memmove(result->buffer(), in->data, count * sizeof(E));
            return owned(result.release());
        });
    }

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        m.add<&new_>(std::string("new_") + Tr::name, METH_VARARGS);
        m.add<&ClassOps<Tr>::del>(std::string("delete_") + Tr::name, METH_O);
        add_const_getter<Tr, kDimensionCount, &Arr::dimensionCount>(m, "The number of dimensions of the array.");
        add_const_getter<Tr, kShape, &Arr::shape>(m, "Return the shape of the array.");
        add_const_getter<Tr, kIndexer, &Arr::indexer>(m, "Return the indexer instance used by the array.");
        m.add<&at>(
            fn("_at"), METH_VARARGS,
            "\nGet an element of the array.\n\nWarning: If Array has an empty shape (dimension count = 0), this "
            "method\nhas an undefined behavior.\n\n:type index: :py:class:`VectorXu64`\n:param index: The index of "
            "the element to get.\n");
        m.add<&set_at>(
            fn("_set_at"), METH_VARARGS,
            joined("\nSet a value to an element of the array.\n\nWarning: If Array has an empty shape (dimension count "
                   "= 0), this method\nhas an undefined behavior.\n\n:type index: :py:class:`VectorXu64`\n:param "
                   "index: The index of the element to set.\n:type value: ",
                   Tr::value_doc, "\n:param value: The value to set at the given index.\n"));
        m.add<&reshape>(
            fn("_reshape"), METH_VARARGS,
            "\nChange the shape of the array.\n\n:type shape: :py:class:`VectorXu64`\n:param shape: The new shape.\n");
        add_const_getter<Tr, kToString, &Arr::toString>(m, "Return a string representation");
        add_object_compare<Tr>(m);
        m.add<&to_numpy>(fn("__to_numpy"), METH_VARARGS);
        m.add<&from_numpy>(
            fn("_from_numpy"), METH_O,
            joined("\nCreate an array from a numpy array, copying its elements: later changes on either side are "
                   "not seen by the other.\n\n:type npy_array: numpy.ndarray\n:param npy_array: A C- or "
                   "Fortran-contiguous array whose elements are ",
                   Tr::elem,
                   ".\n:raises: TypeError if npy_array is not a numpy array, Error if its data type is not "
                   "supported, ValueError if its data type does not match or it is not contiguous.\n"));
        add_hooks<Arr>(m, Tr::name);
    }
};

} // namespace qw::arrays

// One class: its type entry, traits and place (`index`: 0 to 9) in the table.
// `value_doc` is the word after ":type value:" in set_at's docstring.
#define QW_ARRAY_CLASS(Suffix, Elem, numpy, value_word, index)                                                         \
    static ::qw::TypeDef<quelbo::ArrayX##Suffix> qw_type_##Suffix(QW_LISTED("_p_quelbo__ArrayXT_" #Elem "_t"));        \
    struct ArrayX##Suffix##Tr                                                                                          \
    {                                                                                                                  \
        using T = quelbo::ArrayX##Suffix;                                                                              \
        static constexpr const char* name = "ArrayX" #Suffix;                                                          \
        static constexpr const char* native = "quelbo::ArrayX< " #Elem " >";                                           \
        static constexpr const char* elem = #Elem;                                                                     \
        static constexpr const char* value_doc = value_word;                                                           \
        static constexpr int numpy_type = ::qw::np::numpy;                                                             \
        static constexpr const char* self_type = "quelbo::ArrayX< " #Elem " > const *";                                \
        static constexpr const char* other_type = "quelbo::ArrayX< " #Elem " > const &";                               \
    };                                                                                                                 \
    static ::qw::TablePartReg qw_family_##Suffix(::qw::order::arrays + (index),                                        \
                                                 &::qw::arrays::Members<ArrayX##Suffix##Tr>::add)

// The ten value-array classes: construction, queries, element access,
// reshaping, text form, comparison and the exchange with numpy arrays. One
// family template over a traits struct per class; each source file declares
// one class.
#pragma once

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "core_args.h"
#include "quelbo/array.h"
#include "runtime/members.h"
#include "runtime/numpy_api.h"
#include "native_types.h"

namespace qw::arrays {

// numpy's base object for an array made over a value array's elements: holds
// `obj` (one reference) and the elements, freed when numpy lets it go.
PyObject* element_holder(PyObject* obj, std::shared_ptr<void> elements);

// A class's traits: its texts write the class by its template form
// ("quelbo::ArrayX< double >"); `elem` the element type, `value_doc` the
// word after ":type value:" in set_at's docstring, `numpy_type` numpy's
// type number of the elements.
template <class A>
struct ArrayTr : TemplateTraits<A>
{
    using E = typename A::ValueType;
    static constexpr const char* elem = FirstArgument<AsTemplate<A>>::text;
    static constexpr const char* value_doc =
        sizeof(E) == 1 ? elem : (std::is_floating_point<E>::value ? "float" : "int");
    static constexpr int numpy_type = np::type_of<E>;
};

// Over a class's traits (ArrayTr).
template <class Tr>
struct Members
{
    using Arr = typename Tr::T;
    using E = typename Arr::ValueType;
    using Shape = quelbo::VectorXu64;

    using Const = Self<Arr, &Tr::self_type>;
    using Mut = SelfMut<Arr, &Tr::mut_type>;
    using Index = Seq<Shape>;

    // ------------------------------------------------------------ lifetime

    // The copy comes first, so the move constructor is never reached.
    template <class K, int Place>
    struct From : Candidate<Params<K>, Place>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](const auto& source) { return constructed(new Arr(source)); };
    };
    struct new_moved : Candidate<Params<Ref<Arr, &Tr::moved_type>>, 3>
    {
        static constexpr const char* member = Tr::constructor;
    };
    struct construct : DeclareOverloads<construct, From<Ref<quelbo::Indexer>, 1>, From<Ref<Arr, &Tr::other_type>, 2>,
                                        From<Index, 0>, ListedOnly<new_moved>>,
                       NewName<Tr>
    {
    };

    // ---------------------------------------------------------------- numpy

    // A numpy array over the elements, with a holder of `owner` and of the
    // elements as its base: the elements outlive the value array if need be.
    static PyObject* to_numpy(Arr* v, PyObject* owner)
    {
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
        PyObject* holder = element_holder(owner, v->sharedBuffer());
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
    }

    // A new value array holding a copy of the elements of a contiguous numpy
    // array of the class's element type.
    static PyObject* from_numpy(PyObject* o)
    {
        if (!np::is_array(o)) {
            PyErr_SetString(PyExc_TypeError, "Input Numpy Array is not valid");
            return nullptr;
        }
        const np::Array* in = np::fields(o);
        const quelbo::DataType dtype = np::native_order(in) ? np::dtype_of(in->descr->type_num) : quelbo::DataType();
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
            PyErr_SetString(PyExc_ValueError,
                            "a numpy array of dimension count 0 has no value array form (it would lose its element)");
            return nullptr;
        }
        Shape shape(std::size_t(in->nd));
        for (int i = 0; i < in->nd; ++i)
            shape.data()[i] = uint64_t(in->dimensions[i]);
        return owned(new Arr(quelbo::Indexer(shape, dtype, layout), reinterpret_cast<const E*>(in->data)));
    }

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        m.add<construct>();
        m.add<Delete<Tr>>();
        add_const_getter<Tr, QW_NAME("dimension_count"), &Arr::dimensionCount>(
            m, "The number of dimensions of the array.");
        add_const_getter<Tr, QW_NAME("shape"), &Arr::shape>(m, "Return the shape of the array.");
        add_const_getter<Tr, QW_NAME("indexer"), &Arr::indexer>(m, "Return the indexer instance used by the array.");
        m.add<Member<Tr, QW_NAME("at"), &Arr::at, Const, Index>>(
            "\nGet an element of the array.\n\nWarning: If Array has an empty shape (dimension count = 0), this "
            "method\nhas an undefined behavior.\n\n:type index: :py:class:`VectorXu64`\n:param index: The index of "
            "the element to get.\n");
        m.add<Member<Tr, QW_NAME("set_at"), &Arr::setAt, Mut, Index, Arg<E, &Tr::elem>>>(
            joined("\nSet a value to an element of the array.\n\nWarning: If Array has an empty shape (dimension count "
                   "= 0), this method\nhas an undefined behavior.\n\n:type index: :py:class:`VectorXu64`\n:param "
                   "index: The index of the element to set.\n:type value: ",
                   Tr::value_doc, "\n:param value: The value to set at the given index.\n"));
        m.add<Member<Tr, QW_NAME("reshape"), &Arr::reshape, Mut, Index>>(
            "\nChange the shape of the array.\n\n:type shape: :py:class:`VectorXu64`\n:param shape: The new shape.\n");
        add_const_getter<Tr, QW_NAME("to_string"), &Arr::toString>(m, "Return a string representation");
        add_object_compare<Tr>(m);
        m.add<Member<Tr, QW_NAME("_to_numpy"), &to_numpy, Mut, Object<text::object>>>();
        m.add<Member<Tr, QW_NAME("from_numpy"), &from_numpy, Object<text::object>>>(
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

// One class: its type entry and family.
#define QW_ARRAY_CLASS(Suffix)                                                                                         \
    QW_TYPE(quelbo::ArrayX##Suffix);                                                                                   \
    QW_FAMILY(&::qw::arrays::Members<::qw::arrays::ArrayTr<quelbo::ArrayX##Suffix>>::add)

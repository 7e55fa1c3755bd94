// Indexer: how an n-dimensional array of elements lies in memory.
#include "quelbo/indexer.h"
#include "common/item_parser.h"
#include "core_args.h"

namespace {

using namespace qw;
using quelbo::Indexer;
using quelbo::VectorXu64;

QW_TYPE(Indexer, "_p_quelbo__Indexer");

struct IndexerTr
{
    using T = Indexer;
    static constexpr const char* name = "Indexer";
    static constexpr const char* native = "quelbo::Indexer";
    static constexpr const char* self_type = "quelbo::Indexer const *";
    static constexpr const char* other_type = "quelbo::Indexer const &";
};

// new_Indexer(shape, data type[, layout | strides[, order]])
PyObject* from_shape(Args a, Py_ssize_t n)
{
    const char* fn = "new_Indexer";
    const bool layoutForm = n == 3 && is<int32_t>(a[2]);
    VectorXu64 shape, first, second;
    quelbo::DataType dtype;
    quelbo::MemoryLayout layout = quelbo::MemoryLayout::UNKNOWN;
    if (!sequence_to_vector(a[0], shape) || !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, dtype))
        return nullptr;
    if (layoutForm && !arg(a[2], {fn, 3, "quelbo::MemoryLayout"}, layout))
        return nullptr;
    if (n >= 3 && !layoutForm && (!sequence_to_vector(a[2], first) || (n == 4 && !sequence_to_vector(a[3], second))))
        return nullptr;
    // shapes, strides and orders that do not agree are refused by the library
    return call([&] {
        if (n == 2)
            return constructed(new Indexer(shape, dtype));
        if (layoutForm)
            return constructed(new Indexer(shape, dtype, layout));
        if (n == 3)
            return constructed(new Indexer(shape, dtype, first));
        return constructed(new Indexer(shape, dtype, first, second));
    });
}

bool shape_and_dtype(Args a)
{
    return is_seq(a[0]) && is_dtype(a[1]);
}

PyObject* new_Indexer(PyObject*, PyObject* args)
{
    static const char* fn = "new_Indexer";
    static const Overloads rows(
        fn,
        {{"quelbo::Indexer::Indexer()", 0, 0, nullptr,
          [](Args, Py_ssize_t) { return call([] { return constructed(new Indexer()); }); }, 0},
         {"quelbo::Indexer::Indexer(quelbo::Indexer const &)", 1, 1,
          [](Args a, Py_ssize_t) { return is_obj<Indexer>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              Indexer* other;
              if (!ref(a[0], {fn, 1, "quelbo::Indexer const &"}, other))
                  return nullptr;
              return call([&] { return constructed(new Indexer(*other)); });
          },
          5},
         {"quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType)", 2, 2,
          [](Args a, Py_ssize_t) { return shape_and_dtype(a); }, &from_shape, 1},
         {"quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::MemoryLayout)", 3, 3,
          [](Args a, Py_ssize_t) { return shape_and_dtype(a) && is<int32_t>(a[2]); }, &from_shape, 2},
         {"quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const &)", 3, 3,
          [](Args a, Py_ssize_t) { return shape_and_dtype(a) && is_seq(a[2]); }, &from_shape, 3},
         {"quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const "
          "&,quelbo::VectorXu64 const &)",
          4, 4, [](Args a, Py_ssize_t) { return shape_and_dtype(a) && is_seq(a[2]) && is_seq(a[3]); }, &from_shape, 4},
         {"quelbo::Indexer::Indexer(quelbo::Indexer &&)", 1, 1, listed_only, nullptr, 6}});
    return rows(args);
}

// Indexer_<name>(obj) gives the whole vector, Indexer_<name>(obj, i) one
// entry (InvalidArgument from the library past the dimension count).
template <const char* Name, const char* Native, VectorXu64 const& (Indexer::*All)() const,
          size_t (Indexer::*One)(size_t) const>
PyObject* vector_or_entry(PyObject*, PyObject* args)
{
    static const char* fn = joined("Indexer_", Name);
    static const Overloads rows(
        fn, {{joined("quelbo::Indexer::", Native, "() const"), 1, 1,
              [](Args a, Py_ssize_t) { return is_obj<Indexer>(a[0], true); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Indexer* obj;
                  if (!self(a[0], {fn, 1, IndexerTr::self_type}, obj))
                      return nullptr;
                  return call([&] { return value((obj->*All)()); });
              }},
             {joined("quelbo::Indexer::", Native, "(size_t) const"), 2, 2,
              [](Args a, Py_ssize_t) { return is_obj<Indexer>(a[0], true) && is<uint64_t>(a[1]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Indexer* obj;
                  uint64_t i;
                  if (!self(a[0], {fn, 1, IndexerTr::self_type}, obj) || !arg(a[1], {fn, 2, "size_t"}, i))
                      return nullptr;
                  return call([&] { return to_py((obj->*One)(size_t(i))); });
              }}});
    return rows(args);
}

// Indexer_<name>(obj, index sequence)
template <const char* Name, size_t (Indexer::*Member)(VectorXu64 const&) const>
PyObject* with_index(PyObject*, PyObject* args)
{
    static const char* fn = joined("Indexer_", Name);
    PyObject* a[2];
    Indexer* obj;
    VectorXu64 index;
    if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, IndexerTr::self_type}, obj) ||
        !sequence_to_vector(a[1], index))
        return nullptr;
    // an index outside the shape is refused by the library
    return call([&] { return to_py((obj->*Member)(index)); });
}

constexpr char kShape[] = "shape";
constexpr char kStride[] = "stride";
constexpr char kByteStride[] = "byte_stride";
constexpr char kByteStrideNative[] = "byteStride";
constexpr char kLayout[] = "layout";
constexpr char kDtype[] = "dtype";
constexpr char kDimensionCount[] = "dimension_count";
constexpr char kElementCount[] = "element_count";
constexpr char kByteCount[] = "byte_count";
constexpr char kOffset[] = "offset";
constexpr char kByteOffset[] = "byte_offset";
constexpr char kIsContinuous[] = "is_continuous";

template <const char* Name, const char* Native, VectorXu64 const& (Indexer::*All)() const,
          size_t (Indexer::*One)(size_t) const>
void add_vector_or_entry(Methods& m)
{
    m.add<&vector_or_entry<Name, Native, All, One>>(joined("Indexer_", Name), METH_VARARGS);
}

void add_indexer(Methods& m)
{
    m.add<&new_Indexer>("new_Indexer", METH_VARARGS);
    m.add<&ClassOps<IndexerTr>::del>("delete_Indexer", METH_O);
    add_vector_or_entry<kShape, kShape, &Indexer::shape, &Indexer::shape>(m);
    add_vector_or_entry<kStride, kStride, &Indexer::stride, &Indexer::stride>(m);
    add_vector_or_entry<kByteStride, kByteStrideNative, &Indexer::byteStride, &Indexer::byteStride>(m);
    add_vector_or_entry<kLayout, kLayout, &Indexer::layout, &Indexer::layout>(m);
    add_const_getter<IndexerTr, kDtype, &Indexer::dtype>(m);
    add_const_getter<IndexerTr, kDimensionCount, &Indexer::dimensionCount>(m);
    add_const_getter<IndexerTr, kElementCount, &Indexer::elementCount>(m);
    add_const_getter<IndexerTr, kByteCount, &Indexer::byteCount>(m);
    m.add<&with_index<kOffset, &Indexer::offset>>("Indexer_offset", METH_VARARGS);
    m.add<&with_index<kByteOffset, &Indexer::byteOffset>>("Indexer_byte_offset", METH_VARARGS);
    add_const_getter<IndexerTr, kIsContinuous, &Indexer::isContinuous>(m);
    add_object_compare<IndexerTr>(m);
    add_hooks<Indexer>(m, "Indexer");
}

QW_FAMILY(order::indexer, add_indexer);

} // namespace

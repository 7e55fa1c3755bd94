// Indexer: how an n-dimensional array of elements lies in memory.
#include "common/item_parser.h"
#include "core_args.h"
#include "quelbo/indexer.h"

namespace {

using namespace qw;
using quelbo::Indexer;
using quelbo::VectorXu64;

QW_TYPE(Indexer, "_p_quelbo__Indexer", "quelbo::Indexer *");

struct IndexerTr
{
    using T = Indexer;
    static constexpr const char* name = "Indexer";
    static constexpr const char* native = "quelbo::Indexer";
    static constexpr const char* self_type = "quelbo::Indexer const *";
    static constexpr const char* other_type = "quelbo::Indexer const &";
};

PyObject* new_Indexer(PyObject*, PyObject* args)
{
    const char* fn = "new_Indexer";
    PyObject* a[4];
    Py_ssize_t n = 0;
    if (unpack(fn, args, 0, 4, a, &n)) {
        if (n == 0)
            return call([] { return constructed(new Indexer()); });
        if (n == 1 && is_obj<Indexer>(a[0])) {
            Indexer* other;
            if (!ref(a[0], {fn, 1, "quelbo::Indexer const &"}, other))
                return nullptr;
            return call([&] { return constructed(new Indexer(*other)); });
        }
        if (n >= 2 && is_seq(a[0]) && is_dtype(a[1])) {
            const bool layoutForm = n == 3 && is<int32_t>(a[2]);
            const bool vectorForm = (n == 3 && !layoutForm && is_seq(a[2])) || (n == 4 && is_seq(a[2]) && is_seq(a[3]));
            if (n == 2 || layoutForm || vectorForm) {
                VectorXu64 shape, first, second;
                quelbo::DataType dtype;
                quelbo::MemoryLayout layout = quelbo::MemoryLayout::UNKNOWN;
                if (!sequence_to_vector(a[0], shape) || !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, dtype))
                    return nullptr;
                if (layoutForm && !arg(a[2], {fn, 3, "quelbo::MemoryLayout"}, layout))
                    return nullptr;
                if (vectorForm && (!sequence_to_vector(a[2], first) || (n == 4 && !sequence_to_vector(a[3], second))))
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
        }
    }
    return fail_overload(
        fn,
        {"quelbo::Indexer::Indexer()", "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType)",
         "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::MemoryLayout)",
         "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const &)",
         "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const "
         "&,quelbo::VectorXu64 const &)",
         "quelbo::Indexer::Indexer(quelbo::Indexer const &)", "quelbo::Indexer::Indexer(quelbo::Indexer &&)"});
}

// Indexer_<name>(self) gives the whole vector, Indexer_<name>(self, i) one
// entry (InvalidArgument from the library past the dimension count).
template <const char* Name, const char* Native, VectorXu64 const& (Indexer::*All)() const,
          size_t (Indexer::*One)(size_t) const>
PyObject* vector_or_entry(PyObject*, PyObject* args)
{
    static const char* fn = str("Indexer_", Name);
    PyObject* a[2];
    Py_ssize_t n = 0;
    if (unpack(fn, args, 0, 2, a, &n) && n >= 1 && is_obj<Indexer>(a[0], true)) {
        Indexer* self;
        if (n == 1) {
            if (!qw::self(a[0], {fn, 1, IndexerTr::self_type}, self))
                return nullptr;
            return call([&] { return value((self->*All)()); });
        }
        if (is<uint64_t>(a[1])) {
            uint64_t i;
            if (!qw::self(a[0], {fn, 1, IndexerTr::self_type}, self) || !arg(a[1], {fn, 2, "size_t"}, i))
                return nullptr;
            return call([&] { return to_py((self->*One)(size_t(i))); });
        }
    }
    static const char* whole = str("quelbo::Indexer::", Native, "() const");
    static const char* entry = str("quelbo::Indexer::", Native, "(size_t) const");
    return fail_overload(fn, {whole, entry});
}

// Indexer_<name>(self, index sequence)
template <const char* Name, size_t (Indexer::*Member)(VectorXu64 const&) const>
PyObject* with_index(PyObject*, PyObject* args)
{
    static const char* fn = str("Indexer_", Name);
    PyObject* a[2];
    Indexer* self;
    VectorXu64 index;
    if (!unpack(fn, args, 2, 2, a) || !qw::self(a[0], {fn, 1, IndexerTr::self_type}, self) ||
        !sequence_to_vector(a[1], index))
        return nullptr;
    // an index outside the shape is refused by the library
    return call([&] { return to_py((self->*Member)(index)); });
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
    m.add(str("Indexer_", Name), &vector_or_entry<Name, Native, All, One>, METH_VARARGS);
}

void add_indexer(Methods& m)
{
    m.add("new_Indexer", &new_Indexer, METH_VARARGS);
    m.add("delete_Indexer", &ClassOps<IndexerTr>::del, METH_O);
    add_vector_or_entry<kShape, kShape, &Indexer::shape, &Indexer::shape>(m);
    add_vector_or_entry<kStride, kStride, &Indexer::stride, &Indexer::stride>(m);
    add_vector_or_entry<kByteStride, kByteStrideNative, &Indexer::byteStride, &Indexer::byteStride>(m);
    add_vector_or_entry<kLayout, kLayout, &Indexer::layout, &Indexer::layout>(m);
    add_const_getter<IndexerTr, kDtype, &Indexer::dtype>(m);
    add_const_getter<IndexerTr, kDimensionCount, &Indexer::dimensionCount>(m);
    add_const_getter<IndexerTr, kElementCount, &Indexer::elementCount>(m);
    add_const_getter<IndexerTr, kByteCount, &Indexer::byteCount>(m);
    m.add("Indexer_offset", &with_index<kOffset, &Indexer::offset>, METH_VARARGS);
    m.add("Indexer_byte_offset", &with_index<kByteOffset, &Indexer::byteOffset>, METH_VARARGS);
    add_const_getter<IndexerTr, kIsContinuous, &Indexer::isContinuous>(m);
    add_object_compare<IndexerTr>(m);
    add_hooks<Indexer>(m, "Indexer");
}

QW_FAMILY(order::indexer, add_indexer);

} // namespace

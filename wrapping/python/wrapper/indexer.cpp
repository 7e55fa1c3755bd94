// Indexer: how an n-dimensional array of elements lies in memory.
#include "quelbo/indexer.h"
#include "core_args.h"
#include "runtime/item_parser.h"
#include "native_types.h"
#include "runtime/members.h"

namespace {

using namespace qw;
using quelbo::Indexer;
using quelbo::VectorXu64;

QW_TYPE(Indexer);

using IndexerTr = Traits<Indexer>;

constexpr const char* kMember = IndexerTr::constructor;
using Constant = Self<Indexer, &IndexerTr::self_type>;
using Vector = Seq<VectorXu64>;
using DType = DTypeArg<>;

// new_Indexer(shape, data type[, layout | strides[, order]]): shapes, strides
// and orders that do not agree are refused by the library.
struct new_empty : Candidate<Params<>, 0>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [] { return constructed(new Indexer()); };
};
struct new_copy : Candidate<Params<Ref<Indexer>>, 5>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](const Indexer& other) { return constructed(new Indexer(other)); };
};
struct new_shape : Candidate<Params<Vector, DType>, 1>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](const VectorXu64& shape, quelbo::DataType dtype) {
        return constructed(new Indexer(shape, dtype));
    };
};
struct new_layout : Candidate<Params<Vector, DType, Arg<quelbo::MemoryLayout, named<quelbo::MemoryLayout>>>, 2>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](const VectorXu64& shape, quelbo::DataType dtype, quelbo::MemoryLayout layout) {
        return constructed(new Indexer(shape, dtype, layout));
    };
};
struct new_strides : Candidate<Params<Vector, DType, Vector>, 3>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](const VectorXu64& shape, quelbo::DataType dtype, const VectorXu64& strides) {
        return constructed(new Indexer(shape, dtype, strides));
    };
};
struct new_order : Candidate<Params<Vector, DType, Vector, Vector>, 4>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](const VectorXu64& shape, quelbo::DataType dtype, const VectorXu64& strides,
                                    const VectorXu64& order) {
        return constructed(new Indexer(shape, dtype, strides, order));
    };
};
struct new_moved : Candidate<Params<Ref<Indexer, named<Indexer&&>>>, 6>
{
    static constexpr const char* member = kMember;
};
struct new_indexer : DeclareOverloads<new_indexer, new_empty, new_copy, new_shape, new_layout, new_strides, new_order,
                                      ListedOnly<new_moved>>
{
    static constexpr const char* name = "new_Indexer";
};

// Indexer_<name>(obj) gives the whole vector, Indexer_<name>(obj, i) one
// entry (InvalidArgument from the library past the dimension count); Member
// is the library's name of the member.
template <const char* Name, const char* Member, VectorXu64 const& (Indexer::*All)() const,
          size_t (Indexer::*One)(size_t) const>
struct vector_or_entry
{
    struct all : Candidate<Params<Constant>>
    {
        static constexpr const char* member = member_of<Indexer, Member>;
        static constexpr const char* suffix = " const";
        static constexpr auto call = All;
    };
    struct one : Candidate<Params<Constant, Arg<uint64_t, text::size>>>
    {
        static constexpr const char* member = member_of<Indexer, Member>;
        static constexpr const char* suffix = " const";
        static constexpr auto call = [](const Indexer* obj, uint64_t i) { return (obj->*One)(size_t(i)); };
    };
    struct fn : DeclareOverloads<fn, all, one>
    {
        static const char* name()
        {
            static const char* n = joined("Indexer_", Name);
            return n;
        }
    };
};

// Indexer_<name>(obj, index sequence): an index outside the shape is refused
// by the library.
using offset = Fn<QW_NAME("Indexer_offset"), &Indexer::offset, Constant, Vector>;
using byte_offset = Fn<QW_NAME("Indexer_byte_offset"), &Indexer::byteOffset, Constant, Vector>;

void add_indexer(Methods& m)
{
    m.add<new_indexer>();
    m.add<Delete<IndexerTr>>();
    m.add<vector_or_entry<QW_NAME("shape"), QW_NAME("shape"), &Indexer::shape, &Indexer::shape>::fn>();
    m.add<vector_or_entry<QW_NAME("stride"), QW_NAME("stride"), &Indexer::stride, &Indexer::stride>::fn>();
    m.add<vector_or_entry<QW_NAME("byte_stride"), QW_NAME("byteStride"), &Indexer::byteStride,
                          &Indexer::byteStride>::fn>();
    m.add<vector_or_entry<QW_NAME("layout"), QW_NAME("layout"), &Indexer::layout, &Indexer::layout>::fn>();
    add_const_getter<IndexerTr, QW_NAME("dtype"), &Indexer::dtype>(m);
    add_const_getter<IndexerTr, QW_NAME("dimension_count"), &Indexer::dimensionCount>(m);
    add_const_getter<IndexerTr, QW_NAME("element_count"), &Indexer::elementCount>(m);
    add_const_getter<IndexerTr, QW_NAME("byte_count"), &Indexer::byteCount>(m);
    m.add<offset>();
    m.add<byte_offset>();
    add_const_getter<IndexerTr, QW_NAME("is_continuous"), &Indexer::isContinuous>(m);
    add_object_compare<IndexerTr>(m);
    add_hooks<Indexer>(m, "Indexer");
}

QW_FAMILY(add_indexer);

} // namespace

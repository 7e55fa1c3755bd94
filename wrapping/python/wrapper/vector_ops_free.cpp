// The free __mul__(scalar, vector) of the 40 vector classes.
#include "vector_ops.h"

namespace {
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint8_t, u8);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int8_t, i8);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint16_t, u16);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int16_t, i16);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint32_t, u32);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int32_t, i32);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint64_t, u64);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int64_t, i64);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, float, f);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, double, d);
} // namespace

namespace qw {
namespace vector_ops {

// The order in which the overloads are tried: the element types one after
// the other, within each the fixed sizes as listed, then the dynamic class.
// clang-format off
#define QW_SCALAR_FIRST_ORDER(M)                                                                                       \
    M(u8, 2, 3, 4)  M(i8, 2, 4, 3)                                                                                     \
    M(u16, 4, 2, 3) M(i16, 3, 2, 4)                                                                                    \
    M(u32, 3, 4, 2) M(i32, 4, 3, 2)                                                                                    \
    M(u64, 2, 3, 4) M(i64, 2, 4, 3)                                                                                    \
    M(f, 4, 2, 3)   M(d, 3, 2, 4)
// clang-format on
#define QW_CANDIDATES(Suffix, a, b, c)                                                                                 \
    , Ops<Vector##a##Suffix##Tr>::scalar_first, Ops<Vector##b##Suffix##Tr>::scalar_first,                              \
        Ops<Vector##c##Suffix##Tr>::scalar_first, Ops<VectorX##Suffix##Tr>::scalar_first

// Every overload takes a vector of its own class only (argument 2).
struct scalar_times_vector : DeclareByClass<scalar_times_vector, 1 QW_SCALAR_FIRST_ORDER(QW_CANDIDATES)>
{
    static constexpr const char* name = "__mul__";
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_scalar_times_vector(Methods& m)
{
    m.add<scalar_times_vector>();
}
QW_FAMILY(add_scalar_times_vector);

#undef QW_CANDIDATES
#undef QW_SCALAR_FIRST_ORDER

} // namespace vector_ops
} // namespace qw

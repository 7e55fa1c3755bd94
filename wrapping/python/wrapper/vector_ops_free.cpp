// The free __mul__(scalar, vector) of the 40 vector classes.
#include "vector_ops.h"

namespace qw {
namespace vector_ops {

// The order in which the overloads are tried: the element types one after
// the other, within each the fixed sizes as listed, then the dynamic class.
// It is the interface's own order, not the library's list of element types.
// clang-format off
#define QW_SCALAR_FIRST_ORDER(M)                                                                                       \
    M(u8, 2, 3, 4)  M(i8, 2, 4, 3)                                                                                     \
    M(u16, 4, 2, 3) M(i16, 3, 2, 4)                                                                                    \
    M(u32, 3, 4, 2) M(i32, 4, 3, 2)                                                                                    \
    M(u64, 2, 3, 4) M(i64, 2, 4, 3)                                                                                    \
    M(f, 4, 2, 3)   M(d, 3, 2, 4)
// clang-format on
#define QW_CANDIDATES(Suffix, a, b, c)                                                                                 \
    , Ops<vectors::VectorTr<quelbo::Vector##a##Suffix>>::scalar_first,                                                 \
        Ops<vectors::VectorTr<quelbo::Vector##b##Suffix>>::scalar_first,                                               \
        Ops<vectors::VectorTr<quelbo::Vector##c##Suffix>>::scalar_first,                                               \
        Ops<vectors::VectorTr<quelbo::VectorX##Suffix>>::scalar_first

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

// The free __mul__(scalar, vector) of the 40 vector classes.
#include "vector_ops.h"

namespace {
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint8_t, u8, 0);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int8_t, i8, 1);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint16_t, u16, 2);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int16_t, i16, 3);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint32_t, u32, 4);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int32_t, i32, 5);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, uint64_t, u64, 6);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, int64_t, i64, 7);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, float, f, 8);
QW_VECTOR_EACH(QW_VECTOR_TRAITS, double, d, 9);
} // namespace

namespace qw {
namespace vector_ops {

// The overloads of one element type, in the order the function tries them:
// the fixed sizes as given, then the dynamic class.
#define QW_SCALAR_FIRST(Suffix, a, b, c)                                                                          \
    Ops<Vector##a##Suffix##Tr>::scalar_first_row(), Ops<Vector##b##Suffix##Tr>::scalar_first_row(),              \
        Ops<Vector##c##Suffix##Tr>::scalar_first_row(), Ops<VectorX##Suffix##Tr>::scalar_first_row()

PyObject* scalar_times_vector(PyObject*, PyObject* args)
{
    static const Overloads rows("__mul__", {QW_SCALAR_FIRST(u8, 2, 3, 4), QW_SCALAR_FIRST(i8, 2, 4, 3),
                                            QW_SCALAR_FIRST(u16, 4, 2, 3), QW_SCALAR_FIRST(i16, 3, 2, 4),
                                            QW_SCALAR_FIRST(u32, 3, 4, 2), QW_SCALAR_FIRST(i32, 4, 3, 2),
                                            QW_SCALAR_FIRST(u64, 2, 3, 4), QW_SCALAR_FIRST(i64, 2, 4, 3),
                                            QW_SCALAR_FIRST(f, 4, 2, 3), QW_SCALAR_FIRST(d, 3, 2, 4)});
    return not_implemented(rows(args));
}

#undef QW_SCALAR_FIRST

} // namespace vector_ops
} // namespace qw

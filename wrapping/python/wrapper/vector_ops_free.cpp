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
#define QW_ROWS(Suffix, a, b, c)                                                                                       \
    Ops<Vector##a##Suffix##Tr>::scalar_first_row(), Ops<Vector##b##Suffix##Tr>::scalar_first_row(),                    \
        Ops<Vector##c##Suffix##Tr>::scalar_first_row(), Ops<VectorX##Suffix##Tr>::scalar_first_row(),
#define QW_TYPES(Suffix, a, b, c)                                                                                      \
    &Type<Vector##a##Suffix##Tr::T>::info, &Type<Vector##b##Suffix##Tr::T>::info,                                      \
        &Type<Vector##c##Suffix##Tr::T>::info, &Type<VectorX##Suffix##Tr::T>::info,

PyObject* scalar_times_vector(PyObject*, PyObject* args)
{
    static const Overloads rows("__mul__", {QW_SCALAR_FIRST_ORDER(QW_ROWS)});
    static swig_type_info** const types[] = {QW_SCALAR_FIRST_ORDER(QW_TYPES)};
    if (PyTuple_Size(args) != 2)
        return not_implemented(rows(args));
    PyObject* a[2] = {PyTuple_GetItem(args, 0), PyTuple_GetItem(args, 1)};
    Operand vector(a[1]);
    a[1] = vector.get();
    // Every overload takes a vector of its own class only, so a single handle
    // fits the row of its class or none: that row alone is tried.
    if (is_handle(a[1]) && !reinterpret_cast<SwigPyObject*>(a[1])->next) {
        swig_type_info* ty = reinterpret_cast<SwigPyObject*>(a[1])->ty;
        for (size_t i = 0; i < sizeof(types) / sizeof(types[0]); ++i) {
            if (*types[i] == ty) {
                const Overload& row = rows.row(i);
                return not_implemented(row.check(a, 2) ? row.call(a, 2) : nullptr);
            }
        }
    }
    return not_implemented(rows(a, 2));
}

#undef QW_TYPES
#undef QW_ROWS
#undef QW_SCALAR_FIRST_ORDER

} // namespace vector_ops
} // namespace qw

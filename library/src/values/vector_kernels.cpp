// The dynamic vectors' element loops (quelbo/vector_elements.h), one kernel
// for each element type and operation, built for the widest vectors.
#include "quelbo/vector_elements.h"

#include "util/wide_vectors.h"

namespace quelbo::vector_detail {

namespace {

// The loop of the operation, b an operand's elements or a scalar.
template <class T, class B>
inline QUELBO_INLINED void combineBy(Arithmetic op, T const* a, B b, T* out, std::size_t n)
{
    switch (op) {
    case Arithmetic::add:
        return combine<Arithmetic::add>(a, b, out, n);
    case Arithmetic::sub:
        return combine<Arithmetic::sub>(a, b, out, n);
    case Arithmetic::mul:
        return combine<Arithmetic::mul>(a, b, out, n);
    case Arithmetic::div:
        return combine<Arithmetic::div>(a, b, out, n);
    }
}

} // namespace

#define QUELBO_VECTOR_KERNELS(T, S, ID)                                                                                \
    QUELBO_WIDEST_VECTORS void combineElements(Arithmetic op, T const* a, T const* b, T* out, std::size_t n)             \
    {                                                                                                                  \
        combineBy(op, a, b, out, n);                                                                                   \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS void combineElements(Arithmetic op, T const* a, T b, T* out, std::size_t n)                    \
    {                                                                                                                  \
        combineBy(op, a, b, out, n);                                                                                   \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS void negateElements(T const* a, T* out, std::size_t n)                                         \
    {                                                                                                                  \
        negate(a, out, n);                                                                                             \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS T dotElements(T const* a, T const* b, std::size_t n)                                           \
    {                                                                                                                  \
        return dotProduct(a, b, n);                                                                                    \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS std::size_t mismatchElements(T const* a, T const* b, std::size_t n)                            \
    {                                                                                                                  \
        return mismatch(a, b, n);                                                                                      \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS double lengthElements(T const* a, std::size_t n)                                               \
    {                                                                                                                  \
        return l1Norm(a, n);                                                                                           \
    }                                                                                                                  \
    QUELBO_WIDEST_VECTORS void normalizeElements(T* a, std::size_t n)                                                    \
    {                                                                                                                  \
        normalize(a, n);                                                                                               \
    }
QUELBO_ELEMENT_TYPES(QUELBO_VECTOR_KERNELS)
#undef QUELBO_VECTOR_KERNELS

} // namespace quelbo::vector_detail

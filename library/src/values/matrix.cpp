// Matrix: products, inverses, transposes and texts of square matrices.
#include "quelbo/matrix.h"

#include <string>
#include <utility>

#include "quelbo/error.h"
#include "values/matrix_inverse.h"

namespace quelbo {

template <class T, std::size_t N>
std::size_t Matrix<T, N>::place(std::size_t column, std::size_t row)
{
    if (column >= N || row >= N)
        throw InvalidArgument("Matrix: column " + std::to_string(column) + ", row " + std::to_string(row) +
                              " is outside a " + std::to_string(N) + "x" + std::to_string(N) + " matrix");
    return column * N + row;
}

template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::identity()
{
    Matrix m;
    for (std::size_t i = 0; i < N; ++i)
        m.m_data[i * N + i] = T(1);
    return m;
}

template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::uniform(T value)
{
    Matrix m;
    m.m_data.fill(value);
    return m;
}

template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::transpose() const
{
    Matrix m(*this);
    m.transposeInPlace();
    return m;
}

template <class T, std::size_t N>
void Matrix<T, N>::transposeInPlace()
{
    for (std::size_t c = 0; c < N; ++c)
        for (std::size_t r = c + 1; r < N; ++r)
            std::swap(m_data[c * N + r], m_data[r * N + c]);
}

// Computed in double precision for both element types, then rounded.
template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::inverse() const
{
    double a[N * N];
    double out[N * N];
    for (std::size_t i = 0; i < N * N; ++i)
        a[i] = double(m_data[i]);
    detail::invertMatrix<N>(a, out);
    Matrix m;
    for (std::size_t i = 0; i < N * N; ++i)
        m.m_data[i] = T(out[i]);
    return m;
}

template <class T, std::size_t N>
std::string Matrix<T, N>::toString() const
{
    std::string out = "[";
    for (std::size_t r = 0; r < N; ++r) {
        out += r == 0 ? "[" : ", [";
        for (std::size_t c = 0; c < N; ++c) {
            if (c != 0)
                out += ", ";
            vector_detail::appendElement(out, m_data[c * N + r]);
        }
        out += "]";
    }
    return out + "]";
}

template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::operator-() const
{
    Matrix m;
    for (std::size_t i = 0; i < N * N; ++i)
        m.m_data[i] = -m_data[i];
    return m;
}

template <class T, std::size_t N>
Matrix<T, N>& Matrix<T, N>::operator+=(Matrix const& other)
{
    for (std::size_t i = 0; i < N * N; ++i)
        m_data[i] += other.m_data[i];
    return *this;
}

template <class T, std::size_t N>
Matrix<T, N>& Matrix<T, N>::operator-=(Matrix const& other)
{
    for (std::size_t i = 0; i < N * N; ++i)
        m_data[i] -= other.m_data[i];
    return *this;
}

template <class T, std::size_t N>
Matrix<T, N>& Matrix<T, N>::operator*=(T scalar)
{
    for (T& e : m_data)
        e *= scalar;
    return *this;
}

template <class T, std::size_t N>
Matrix<T, N>& Matrix<T, N>::operator/=(T scalar)
{
    for (T& e : m_data)
        e /= scalar;
    return *this;
}

template <class T, std::size_t N>
Matrix<T, N> Matrix<T, N>::operator*(Matrix const& other) const
{
    Matrix m;
    for (std::size_t c = 0; c < N; ++c)
        for (std::size_t r = 0; r < N; ++r) {
            T sum = T(0);
            for (std::size_t k = 0; k < N; ++k)
                sum += m_data[k * N + r] * other.m_data[c * N + k];
            m.m_data[c * N + r] = sum;
        }
    return m;
}

template <class T, std::size_t N>
Vector<T, N> Matrix<T, N>::operator*(Vector<T, N> const& vector) const
{
    Vector<T, N> out;
    for (std::size_t r = 0; r < N; ++r) {
        T sum = T(0);
        for (std::size_t c = 0; c < N; ++c)
            sum += m_data[c * N + r] * vector.m_data[c];
        out.m_data[r] = sum;
    }
    return out;
}

template class Matrix<float, 3>;
template class Matrix<double, 3>;
template class Matrix<float, 4>;
template class Matrix<double, 4>;

} // namespace quelbo

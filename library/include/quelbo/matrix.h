// Square matrices of floating-point elements.
#pragma once
#include <array>
#include <cstddef>
#include <string>

#include "quelbo/export.h"
#include "quelbo/vector.h"

namespace quelbo {

// A square matrix of N x N elements. Elements are addressed by column and row:
// at(c, r) is column c, row r, and the product with a vector is
// (M v)[r] = sum over c of at(c, r) * v[c]. A column or row of N or more
// throws InvalidArgument.
template <class T, std::size_t N>
class QUELBO_API Matrix
{
    static_assert(std::is_floating_point<T>::value, "matrix elements are floating-point numbers");

public:
    using ValueType = T;

    // Every element zero.
    Matrix() : m_data{} {}

    static Matrix identity();
    static Matrix uniform(T value);

    T at(std::size_t column, std::size_t row) const { return m_data[place(column, row)]; }
    T operator()(std::size_t column, std::size_t row) const { return at(column, row); }
    void setAt(std::size_t column, std::size_t row, T value) { m_data[place(column, row)] = value; }

    Matrix transpose() const;
    void transposeInPlace();
    // As numpy.linalg.inv computes it (LU with partial pivoting, in double
    // precision for both element types). Throws Error when the matrix has no
    // inverse: its determinant is exactly zero, or a pivot is. Every element
    // is NaN when one of the matrix is infinite or NaN.
    Matrix inverse() const;
    // The rows in order, each as a list of its elements.
    std::string toString() const;

    bool operator==(Matrix const& other) const { return m_data == other.m_data; }
    bool operator!=(Matrix const& other) const { return !(*this == other); }

    Matrix operator-() const;
    Matrix& operator+=(Matrix const& other);
    Matrix& operator-=(Matrix const& other);
    Matrix& operator*=(T scalar);
    Matrix& operator/=(T scalar);
    Matrix operator+(Matrix const& other) const { return Matrix(*this) += other; }
    Matrix operator-(Matrix const& other) const { return Matrix(*this) -= other; }
    Matrix operator*(T scalar) const { return Matrix(*this) *= scalar; }
    Matrix operator/(T scalar) const { return Matrix(*this) /= scalar; }
    Matrix operator*(Matrix const& other) const;
    Vector<T, N> operator*(Vector<T, N> const& vector) const;

    // Column-major: column c, row r is m_data[c * N + r].
    std::array<T, N * N> m_data;

private:
    static std::size_t place(std::size_t column, std::size_t row);
};

using Matrix3f = Matrix<float, 3>;
using Matrix3d = Matrix<double, 3>;
using Matrix4f = Matrix<float, 4>;
using Matrix4d = Matrix<double, 4>;

extern template class Matrix<float, 3>;
extern template class Matrix<double, 3>;
extern template class Matrix<float, 4>;
extern template class Matrix<double, 4>;

} // namespace quelbo

// The 3-vector and 4x4 matrix calls of the call benchmark, bound with
// pybind11 as its users would write them: bench_calls.py builds this module
// in a temporary folder when pybind11's headers are installed. Never part of
// the shipped modules.
#include <array>

#include <pybind11/operators.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "quelbo/matrix.h"
#include "quelbo/vector.h"

namespace py = pybind11;
using V = quelbo::Vector3d;
using M = quelbo::Matrix4d;
using Items = std::array<double, 3>;

namespace {

V from_items(Items const& items)
{
    V v;
    for (std::size_t i = 0; i < 3; ++i)
        v.setAt(i, items[i]);
    return v;
}

} // namespace

PYBIND11_MODULE(quelbo_pybind, m)
{
    py::class_<V>(m, "Vector3d").def(py::init<>());
    py::class_<M>(m, "Matrix4d").def(py::init<>());
    m.def("Vector3d_at", [](V const& v, std::size_t i) { return v.at(i); });
    m.def("Vector3d_dot", [](V const& v, Items const& w) { return v.dot(from_items(w)); });
    m.def("Vector3d___neg__", [](V const& v) { return -v; });
    m.def("Vector3d___add__", [](V const& v, Items const& w) { return v + from_items(w); });
    m.def("Matrix4d___mul__", [](M const& a, M const& b) { return a * b; });
}

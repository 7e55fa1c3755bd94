// The bridge between numpy arrays and image views, both ways, without copy.
#pragma once

#include <memory>
#include <vector>

#include "numpy/numpy_memory.h"
#include "quelbo/data_type.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "runtime/type_text.h"

namespace quelbo {

// Operations return the result, or empty / null with a Python exception set
// (the argument cases), or throw a library Error (shape, type, axis order,
// linking).
class NumpyInterop
{
public:
    // A view over the array whose axes are the dimensions of the image type,
    // in numpy order (SEQUENCE, SLICE, ROW, COLUMN, CHANNEL).
    static std::shared_ptr<ImageView> fromNumpyArray(PyObject* np, ImageType axes_interpretation,
                                                     ImageInterpretation interpretation, bool hasAlpha);
    // Entry i of the list is the dimension of numpy axis i.
    static std::shared_ptr<ImageView> orderFromNumpyArray(PyObject* np, ImageDimension const* dimensionsList,
                                                          size_t count, ImageInterpretation interpretation,
                                                          bool hasAlpha);
    // An array over the view's memory, axes in the fixed numpy order.
    static PyObject* toNumpyArray(PyObject* image);
    // The same, numpy axis k showing the dimension at position k of the list.
    static PyObject* orderToNumpyArray(PyObject* image, ImageDimension const* dimensionsList, size_t count);
};

} // namespace quelbo

namespace qw {
QW_NATIVE(quelbo::NumpyInterop);
} // namespace qw

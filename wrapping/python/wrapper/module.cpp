// Module entry: the module with its functions in table order (runtime/calls.cpp,
// table_order.h), the constants, `cvar` and numpy's interface.
#include <algorithm>

#include "quelbo/data_type.h"
#include "quelbo/image_type.h"
#include "quelbo/indexer.h"
#include "quelbo/logger.h"
#include "quelbo/uid.h"
#include "quelbo/version.h"
#include "runtime/cvar.h"
#include "runtime/numpy_api.h"
#include "runtime/wrap.h"
#include "storage.h"
#include "table_order.h"

namespace qw {
const quelbo::VersionInfo* module_version();
}

namespace {

using namespace qw;

struct Constant
{
    const char* name;
    unsigned long long value;
};

// The enumerations' constants are read from the enumerations: <Enum>_<N>.
#define QW_ENUM_VALUE(Enum, N)                                                                                         \
    {                                                                                                                  \
#Enum "_" #N, uint64_t(quelbo::Enum::N)                                                                        \
    }
const Constant kLogLevels[] = {
    {"SHARED_PTR_DISOWN", 0},           QW_ENUM_VALUE(LogLevel, LOG_OFF),     QW_ENUM_VALUE(LogLevel, LOG_CRITICAL),
    QW_ENUM_VALUE(LogLevel, LOG_ERR),   QW_ENUM_VALUE(LogLevel, LOG_WARNING), QW_ENUM_VALUE(LogLevel, LOG_INFO),
    QW_ENUM_VALUE(LogLevel, LOG_DEBUG), QW_ENUM_VALUE(LogLevel, LOG_TRACE),
};

#define QW_DATA_TYPE_ID(N) QW_ENUM_VALUE(DataTypeId, N)
const Constant kDataConstants[] = {
    QW_ENUM_VALUE(PrimitiveTypeId, UNKNOWN),
    QW_ENUM_VALUE(PrimitiveTypeId, UNSIGNED_INTEGER),
    QW_ENUM_VALUE(PrimitiveTypeId, SIGNED_INTEGER),
    QW_ENUM_VALUE(PrimitiveTypeId, FLOATING_POINT),
    QW_ENUM_VALUE(PrimitiveTypeId, UNICODE_STRING),
    QW_ENUM_VALUE(DataTypeInterpretation, RAW),
    QW_ENUM_VALUE(DataTypeInterpretation, COMPLEX),
    QW_ENUM_VALUE(DataTypeInterpretation, SQUARE_MATRIX),
    QW_ENUM_VALUE(DataTypeInterpretation, SYMMETRIC_MATRIX),
    QW_DATA_TYPE_ID(UNKNOWN),
    QW_DATA_TYPE_ID(UINT8),
    QW_DATA_TYPE_ID(UINT16),
    QW_DATA_TYPE_ID(UINT32),
    QW_DATA_TYPE_ID(UINT64),
    QW_DATA_TYPE_ID(INT8),
    QW_DATA_TYPE_ID(INT16),
    QW_DATA_TYPE_ID(INT32),
    QW_DATA_TYPE_ID(INT64),
    QW_DATA_TYPE_ID(FLOAT),
    QW_DATA_TYPE_ID(DOUBLE),
    QW_DATA_TYPE_ID(UTF8_STRING),
    QW_DATA_TYPE_ID(UTF16_STRING),
    QW_DATA_TYPE_ID(UTF32_STRING),
    QW_DATA_TYPE_ID(VEC2_UINT8),
    QW_DATA_TYPE_ID(VEC2_UINT16),
    QW_DATA_TYPE_ID(VEC2_UINT32),
    QW_DATA_TYPE_ID(VEC2_UINT64),
    QW_DATA_TYPE_ID(VEC2_INT8),
    QW_DATA_TYPE_ID(VEC2_INT16),
    QW_DATA_TYPE_ID(VEC2_INT32),
    QW_DATA_TYPE_ID(VEC2_INT64),
    QW_DATA_TYPE_ID(VEC2_FLOAT),
    QW_DATA_TYPE_ID(VEC2_DOUBLE),
    QW_DATA_TYPE_ID(VEC3_UINT8),
    QW_DATA_TYPE_ID(VEC3_UINT16),
    QW_DATA_TYPE_ID(VEC3_UINT32),
    QW_DATA_TYPE_ID(VEC3_UINT64),
    QW_DATA_TYPE_ID(VEC3_INT8),
    QW_DATA_TYPE_ID(VEC3_INT16),
    QW_DATA_TYPE_ID(VEC3_INT32),
    QW_DATA_TYPE_ID(VEC3_INT64),
    QW_DATA_TYPE_ID(VEC3_FLOAT),
    QW_DATA_TYPE_ID(VEC3_DOUBLE),
    QW_DATA_TYPE_ID(VEC4_UINT8),
    QW_DATA_TYPE_ID(VEC4_UINT16),
    QW_DATA_TYPE_ID(VEC4_UINT32),
    QW_DATA_TYPE_ID(VEC4_UINT64),
    QW_DATA_TYPE_ID(VEC4_INT8),
    QW_DATA_TYPE_ID(VEC4_INT16),
    QW_DATA_TYPE_ID(VEC4_INT32),
    QW_DATA_TYPE_ID(VEC4_INT64),
    QW_DATA_TYPE_ID(VEC4_FLOAT),
    QW_DATA_TYPE_ID(VEC4_DOUBLE),
    QW_DATA_TYPE_ID(COMPLEX_FLOAT),
    QW_DATA_TYPE_ID(COMPLEX_DOUBLE),
    QW_DATA_TYPE_ID(MATRIX2_FLOAT),
    QW_DATA_TYPE_ID(MATRIX2_DOUBLE),
    QW_DATA_TYPE_ID(MATRIX3_FLOAT),
    QW_DATA_TYPE_ID(MATRIX3_DOUBLE),
    QW_DATA_TYPE_ID(MATRIX4_FLOAT),
    QW_DATA_TYPE_ID(MATRIX4_DOUBLE),
    QW_DATA_TYPE_ID(SYM_MATRIX2_FLOAT),
    QW_DATA_TYPE_ID(SYM_MATRIX2_DOUBLE),
    QW_DATA_TYPE_ID(SYM_MATRIX3_FLOAT),
    QW_DATA_TYPE_ID(SYM_MATRIX3_DOUBLE),
    QW_ENUM_VALUE(MemoryLayout, UNKNOWN),
    QW_ENUM_VALUE(MemoryLayout, C),
    QW_ENUM_VALUE(MemoryLayout, FORTRAN),
};
#undef QW_DATA_TYPE_ID
#undef QW_ENUM_VALUE

const Constant kDimensions[] = {
    {"ImageDimension_COLUMN", 0},  {"ImageDimension_ROW", 1},      {"ImageDimension_SLICE", 2},
    {"ImageDimension_CHANNEL", 3}, {"ImageDimension_SEQUENCE", 4},
};

const Constant kAccessConstants[] = {
    {"ImageInterpretation_UNKNOWN", 0},
    {"ImageInterpretation_GRAYSCALE", 1},
    {"ImageInterpretation_LABEL", 2},
    {"ImageInterpretation_BINARY", 3},
    {"ImageInterpretation_CIE_XYZ", 17},
    {"ImageInterpretation_CIE_XYZ_CHROMATICITY", 18},
    {"ImageInterpretation_CIE_UVW", 20},
    {"ImageInterpretation_CIE_LUV", 21},
    {"ImageInterpretation_CIE_LAB", 22},
    {"ImageInterpretation_RGB", 33},
    {"ImageInterpretation_RGB_CHROMATICITY", 34},
    {"ImageInterpretation_SRGB", 35},
    {"ImageInterpretation_YUV", 49},
    {"ImageInterpretation_YCC", 50},
    {"ImageInterpretation_YIQ", 51},
    {"ImageInterpretation_YDD", 52},
    {"ImageInterpretation_HSL", 65},
    {"ImageInterpretation_HSV", 66},
    {"ImageInterpretation_CMYK", 81},
    {"ImageInterpretation_MULTISPECTRAL", 255},
    {"AccessCapabilities_READ_ONLY", 1},
    {"AccessCapabilities_WRITE_ONLY", 2},
    {"AccessCapabilities_READ_WRITE", 3},
    {"StreamAccessCapability_READ", 1},
    {"StreamAccessCapability_WRITE", 2},
    {"StreamAccessCapability_SEEK", 4},
    {"StreamAccessCapability_MEMORY_ACCESS", 8},
    {"StreamAccessCapability_READ_WRITE", 3},
    {"StreamAccessCapability_READ_SEEK", 5},
    {"StreamAccessCapability_WRITE_SEEK", 6},
    {"SeekOrigin_BEGIN", 1},
    {"SeekOrigin_CURRENT", 2},
    {"SeekOrigin_END", 3},
    {"RandomAccessCapability_READ", 1},
    {"RandomAccessCapability_WRITE", 2},
    {"RandomAccessCapability_RESIZE", 4},
    {"RandomAccessCapability_MEMORY_ACCESS", 8},
    {"RandomAccessCapability_READ_WRITE", 3},
    {"RandomAccessCapability_WRITE_RESIZE", 6},
    {"TilingInfoExtension_EXTENSION_ID", 1},
    {"TilingInfoExtension_INVALID_TILE_INDEX", 4294967295ULL},
    {"ParallelAccessCapability_THREAD_SAFE", 1},
    {"ParallelAccessCapability_PARALLEL_TILE_READ", 2},
    {"ParallelAccessCapability_PARALLEL_TILE_WRITE", 4},
    {"ParallelAccessCapability_PARALLEL_READ", 8},
    {"ParallelAccessCapability_PARALLEL_WRITE", 16},
    {"ParallelAccessExtension_EXTENSION_ID", 2},
    {"ViewDataOrigin_UNKNOWN", 0},
    {"ViewDataOrigin_CPU_MEMORY", 1},
    {"ViewDataOrigin_DRIVE", 2},
    {"ViewDataOrigin_GPU_MEMORY", 3},
    {"ViewDataOrigin_NETWORK", 4},
    {"ViewDataOrigin_GENERATED", 5},
    {"ViewDataOrigin_COMPOSITE", 6},
    {"ViewOriginExtension_EXTENSION_ID", 3},
    {"ColumnUnitExtension_EXTENSION_ID", 4},
    {"ImageCapability_READ", 1},
    {"ImageCapability_WRITE", 2},
    {"ImageCapability_RESHAPE", 4},
    {"ImageCapability_MEMORY_ACCESS", 8},
    {"ImageCapability_READ_WRITE", 3},
    {"MultiImageCapability_READ", 1},
    {"MultiImageCapability_WRITE", 2},
    {"MultiImageCapability_READ_WRITE", 3},
    {"DataFrameCapability_READ", 1},
    {"DataFrameCapability_WRITE", 2},
    {"DataFrameCapability_RESHAPE", 4},
};

const Constant kAncestry[] = {
    {"CommonAncestorStatus_SHARE_NO_ANCESTOR", 0},
    {"CommonAncestorStatus_SHARE_ANCESTOR", 1},
    {"CommonAncestorStatus_UNDETERMINED", 2},
};

template <size_t N>
bool install(PyObject* dict, const Constant (&table)[N])
{
    for (const Constant& c : table) {
        PyObject* v = PyLong_FromUnsignedLongLong(c.value);
        if (!v || PyDict_SetItemString(dict, c.name, v) < 0) {
            Py_XDECREF(v);
            return false;
        }
        Py_DECREF(v);
    }
    return true;
}

// ------------------------------------------------------------ cvar variables

PyObject* get_version()
{
    return borrowed(module_version());
}

PyObject* get_version_string()
{
    static const char text[] = "0.0.0";
    return from_string(text, sizeof(text) - 1);
}

PyObject* get_undefined_uid()
{
    return to_py(quelbo::UidGenerator::UNDEFINED_UID);
}

template <const quelbo::ImageType* Object>
PyObject* get_image_type()
{
    return borrowed(Object);
}

#define QW_IMAGE_TYPE_VAR(N)                                                                                           \
    bool add_##N()                                                                                                     \
    {                                                                                                                  \
        mark_readonly(&quelbo::ImageTypeId::N);                                                                        \
        return add_variable("ImageTypeId_" #N, &get_image_type<&quelbo::ImageTypeId::N>);                              \
    }
QW_IMAGE_TYPE_VAR(UNKNOWN)
QW_IMAGE_TYPE_VAR(IMAGE)
QW_IMAGE_TYPE_VAR(VOLUME)
QW_IMAGE_TYPE_VAR(MULTISPECTRAL_IMAGE)
QW_IMAGE_TYPE_VAR(MULTISPECTRAL_VOLUME)
QW_IMAGE_TYPE_VAR(IMAGE_SEQUENCE)
QW_IMAGE_TYPE_VAR(VOLUME_SEQUENCE)
QW_IMAGE_TYPE_VAR(MULTISPECTRAL_IMAGE_SEQUENCE)
QW_IMAGE_TYPE_VAR(MULTISPECTRAL_VOLUME_SEQUENCE)

bool add_image_types()
{
    return add_UNKNOWN() && add_IMAGE() && add_VOLUME() && add_MULTISPECTRAL_IMAGE() && add_MULTISPECTRAL_VOLUME() &&
           add_IMAGE_SEQUENCE() && add_VOLUME_SEQUENCE() && add_MULTISPECTRAL_IMAGE_SEQUENCE() &&
           add_MULTISPECTRAL_VOLUME_SEQUENCE();
}

// ------------------------------------------------------------ module

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "_quelbo", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* init_module()
{
    PyObject* m = create_module(g_module_def, kMain, kTableOrder);
    if (!m)
        return nullptr;
    PyObject* d = PyModule_GetDict(m);
    mark_readonly(module_version());
    PyObject* cvar = nullptr;
    bool ok = install(d, kLogLevels) && (cvar = cvar_object()) != nullptr &&
              PyDict_SetItemString(d, "cvar", cvar) == 0 && add_variable("QUELBO_VERSION", &get_version) &&
              add_variable("QUELBO_VERSION_STRING", &get_version_string) && install(d, kDataConstants) &&
              add_variable("UidGenerator_UNDEFINED_UID", &get_undefined_uid) && install(d, kDimensions) &&
              add_image_types() && install(d, kAccessConstants);
    if (!ok) {
        Py_DECREF(m);
        return nullptr;
    }
    if (!import_numpy()) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
        Py_DECREF(m);
        return nullptr;
    }
    if (!install(d, kAncestry)) {
        Py_DECREF(m);
        return nullptr;
    }
    storage::connect_file_streams();
    return m;
}

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo()
{
    return init_module();
}

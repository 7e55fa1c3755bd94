// Test-only data frames: holders handed over by address, and a frame of the
// column kinds the library does not make (UTF-16 and UTF-32 strings ...),
// offering READ only, without column units.
#include <memory>
#include <vector>

#include "quelbo/data_frame.h"
#include "quelbo/error.h"
#include "quelbo/hand_over.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;
using quelbo::DataFrameView;
using FramePtr = std::shared_ptr<DataFrameView>;

QW_TEST_TYPE(FramePtr, "_p_std__shared_ptrT_quelbo__DataFrameView_t", "std::shared_ptr< quelbo::DataFrameView > *");

// hand_over_frame(frame): the address of a new holder of the frame, recorded
// for DataFrameView_create_from_pointer. hand_over_frame(None): of an empty holder.
PyObject* hand_over_frame(PyObject*, PyObject* o)
{
    void* p = nullptr;
    FramePtr frame;
    if (o != Py_None) {
        if (convert_ptr(o, &p, type_of<FramePtr>(), 0) != OK || !p) {
            fail_arg(ERR_TYPE, {"hand_over_frame", 1, "std::shared_ptr< quelbo::DataFrameView >"});
            return nullptr;
        }
        frame = *static_cast<FramePtr*>(p);
    }
    return call([&] { return to_py(quelbo::handOver(frame)); });
}

// Columns "c0", "c1" ... of the given type codes, cells of whole bytes
// holding the byte i of each cell (row * 16 + column); READ only.
class Foreign final : public DataFrameView
{
public:
    Foreign(std::vector<quelbo::DataType> types, size_t rows) : m_types(std::move(types))
    {
        m_shape[0] = m_types.size();
        m_shape[1] = rows;
    }
    quelbo::DataFrameCapabilitySet capabilities() const override
    {
        return quelbo::DataFrameCapabilitySet(quelbo::DataFrameCapability::READ);
    }
    quelbo::Vector2u64 const& shape() const override { return m_shape; }
    std::string columnName(size_t index) const override { return "c" + std::to_string(check(index)); }
    size_t columnIndex(std::string const& name) const override
    {
        for (size_t i = 0; i < m_types.size(); ++i)
            if (columnName(i) == name)
                return i;
        throw quelbo::Error("no such column");
    }
    quelbo::DataType columnDataType(size_t index) const override { return m_types[check(index)]; }
    void read(size_t column, size_t rowOffset, size_t rowCount, void* dst) override
    {
        const quelbo::DataType type = columnDataType(column);
        checkRows(rowOffset, rowCount);
        if (type.primitiveType() == quelbo::PrimitiveTypeId::UNICODE_STRING)
            throw quelbo::Error("foreign frame: strings cannot be read");
        auto* out = static_cast<uint8_t*>(dst);
        for (size_t r = 0; r < rowCount; ++r)
            for (size_t b = 0; b < type.byteCount(); ++b)
                *out++ = uint8_t((rowOffset + r) * 16 + column);
    }
    void write(size_t, size_t, size_t, const void*) override
    {
        throw quelbo::NotImplemented("foreign frame: no WRITE");
    }

private:
    size_t check(size_t index) const
    {
        if (index >= m_types.size())
            throw quelbo::Error("column index out of range");
        return index;
    }
    std::vector<quelbo::DataType> m_types;
    quelbo::Vector2u64 m_shape;
};

// foreign_frame(codes, rows)
PyObject* foreign_frame(PyObject*, PyObject* args)
{
    PyObject* a[2];
    size_t rows;
    if (!unpack("foreign_frame", args, 2, 2, a) || !arg(a[1], {"foreign_frame", 2, "size_t"}, rows))
        return nullptr;
    std::vector<quelbo::DataType> types;
    const Py_ssize_t n = PySequence_Size(a[0]);
    if (n < 0)
        return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(a[0], i);
        uint64_t code = 0;
        const bool ok = item && arg(item, {"foreign_frame", 1, "uint64_t"}, code);
        Py_XDECREF(item);
        if (!ok)
            return nullptr;
        types.emplace_back(code);
    }
    return call([&] { return shared(FramePtr(std::make_shared<Foreign>(std::move(types), rows))); });
}

// write_raw_string(frame, column, row, bytes): stores the bytes as they are
// (valid UTF-8 or not) into a string cell.
PyObject* write_raw_string(PyObject*, PyObject* args)
{
    static const char* fn = "write_raw_string";
    PyObject* a[4];
    void* p = nullptr;
    size_t column, row;
    if (!unpack(fn, args, 4, 4, a) || convert_ptr(a[0], &p, type_of<FramePtr>(), 0) != OK || !p ||
        !arg(a[1], {fn, 2, "size_t"}, column) || !arg(a[2], {fn, 3, "size_t"}, row) || !PyBytes_Check(a[3])) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_TypeError, "write_raw_string(frame, column, row, bytes)");
        return nullptr;
    }
    char* data = nullptr;
    Py_ssize_t n = 0;
    PyBytes_AsStringAndSize(a[3], &data, &n);
    std::string text(data, size_t(n));
    FramePtr frame = *static_cast<FramePtr*>(p);
    return call([&] {
        frame->writeStrings(column, row, 1, &text, 1);
        return none();
    });
}

void add_frames(Methods& m)
{
    m.add<&write_raw_string>("write_raw_string", METH_VARARGS);
    m.add<&hand_over_frame>("hand_over_frame", METH_O);
    m.add<&foreign_frame>("foreign_frame", METH_VARARGS);
}
QW_FAMILY(add_frames);

} // namespace

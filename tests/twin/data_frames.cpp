// Test-only data frames: made from column descriptions and cell data,
// read back whole, and seen without the READ capability.
#include <string>
#include <vector>

#include "quelbo/data_frame.h"
#include "runtime/shared.h"

namespace {

using namespace qw;
using quelbo::DataFrameView;
using FramePtr = std::shared_ptr<DataFrameView>;

// The type entry is declared by dataframe.cpp of this folder.

// The same table without READ: every other call goes to the frame.
class Unreadable final : public DataFrameView
{
public:
    explicit Unreadable(FramePtr frame) : m_frame(std::move(frame)) {}
    quelbo::DataFrameCapabilitySet capabilities() const override
    {
        auto caps = m_frame->capabilities();
        caps.remove(quelbo::DataFrameCapability::READ);
        return caps;
    }
    quelbo::Vector2u64 const& shape() const override { return m_frame->shape(); }
    std::string columnName(size_t i) const override { return m_frame->columnName(i); }
    size_t columnIndex(std::string const& name) const override { return m_frame->columnIndex(name); }
    quelbo::DataType columnDataType(size_t i) const override { return m_frame->columnDataType(i); }
    void read(size_t, size_t, size_t, void*) override { throw quelbo::NotImplemented("Unreadable: no READ"); }
    void write(size_t c, size_t at, size_t n, const void* src) override { m_frame->write(c, at, n, src); }

private:
    FramePtr m_frame;
};

bool is_text(quelbo::DataType t)
{
    return DataFrameView::isUtf8String(t);
}

// data_frame([(name, type id, unit, cells)], rows): numeric cells as bytes
// of packed little-endian values, string cells as a list of str.
PyObject* data_frame(PyObject*, PyObject* args)
{
    const char* f = "data_frame";
    PyObject* a[2];
    uint64_t rows;
    if (!unpack(f, args, 2, 2, a) || !arg(a[1], {f, 2, "size_t"}, rows) || !PyList_Check(a[0]))
        return nullptr;
    std::vector<std::string> names, units;
    std::vector<quelbo::DataType> types;
    std::vector<PyObject*> cells;
    for (Py_ssize_t i = 0; i < PyList_Size(a[0]); ++i) {
        PyObject* item = PyList_GetItem(a[0], i);
        std::string name, unit;
        uint64_t id;
        if (!PyTuple_Check(item) || PyTuple_Size(item) != 4 || !arg(PyTuple_GetItem(item, 0), {f, 1, "str"}, name) ||
            !arg(PyTuple_GetItem(item, 1), {f, 1, "uint64_t"}, id) ||
            !arg(PyTuple_GetItem(item, 2), {f, 1, "str"}, unit)) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_TypeError, "columns are (name, type id, unit, cells) tuples");
            return nullptr;
        }
        names.push_back(name);
        types.push_back(quelbo::DataType(id));
        units.push_back(unit);
        cells.push_back(PyTuple_GetItem(item, 3));
    }
    return call([&]() -> PyObject* {
        quelbo::Vector2u64 shape;
        shape[0] = names.size();
        shape[1] = rows;
        FramePtr frame = quelbo::DataFrameViewFactory::allocate();
        if (!names.empty() && rows != 0) {
            frame = quelbo::DataFrameViewFactory::allocate(shape, names, types);
        } else {
            for (size_t c = 0; c < names.size(); ++c)
                frame->addColumn(names[c], types[c]);
        }
        for (size_t c = 0; c < names.size(); ++c) {
            frame->setUnit(c, units[c]);
            if (is_text(types[c])) {
                std::vector<std::string> strings;
                for (Py_ssize_t i = 0; i < PyList_Size(cells[c]); ++i) {
                    std::string s;
                    if (!arg(PyList_GetItem(cells[c], i), {f, 1, "str"}, s))
                        return nullptr;
                    strings.push_back(s);
                }
                frame->writeStrings(c, 0, rows, strings.data(), strings.size());
            } else {
                char* data;
                Py_ssize_t size;
                if (PyBytes_AsStringAndSize(cells[c], &data, &size) != 0)
                    return nullptr;
                frame->writeBytes(c, 0, rows, data, size_t(size));
            }
        }
        return shared<DataFrameView>(std::move(frame));
    });
}

// frame_content(frame): (rows, [(name, type id, unit, cells)]) as data_frame takes them.
PyObject* frame_content(PyObject*, PyObject* o)
{
    FramePtr frame;
    if (!shared_self(o, {"frame_content", 1, "std::shared_ptr< quelbo::DataFrameView >"}, frame))
        return nullptr;
    return call([&]() -> PyObject* {
        size_t const rows = frame->shape()[1];
        PyObject* columns = PyList_New(0);
        for (size_t c = 0; c < frame->shape()[0]; ++c) {
            quelbo::DataType const t = frame->columnDataType(c);
            PyObject* cells;
            if (is_text(t)) {
                std::vector<std::string> strings(rows);
                frame->readStrings(c, 0, rows, strings.data(), rows);
                cells = PyList_New(0);
                for (auto const& s : strings) {
                    PyObject* text = to_py(s);
                    PyList_Append(cells, text);
                    Py_DECREF(text);
                }
            } else {
                std::vector<char> bytes(rows * t.byteCount());
                frame->readBytes(c, 0, rows, bytes.data(), bytes.size());
                cells = PyBytes_FromStringAndSize(bytes.data(), Py_ssize_t(bytes.size()));
            }
            PyObject* column = Py_BuildValue("(NKNN)", to_py(frame->columnName(c)), (unsigned long long)t.id(),
                                             to_py(frame->unit(c)), cells);
            PyList_Append(columns, column);
            Py_DECREF(column);
        }
        return Py_BuildValue("(KN)", (unsigned long long)rows, columns);
    });
}

PyObject* unreadable_frame(PyObject*, PyObject* o)
{
    FramePtr frame;
    if (!shared_self(o, {"unreadable_frame", 1, "std::shared_ptr< quelbo::DataFrameView >"}, frame))
        return nullptr;
    return call([&] { return shared<DataFrameView>(std::make_shared<Unreadable>(frame)); });
}

void add_frame_twin(Methods& m)
{
    m.add<&data_frame>("data_frame", METH_VARARGS);
    m.add<&frame_content>("frame_content", METH_O);
    m.add<&unreadable_frame>("unreadable_frame", METH_O);
}

} // namespace

QW_FAMILY(add_frame_twin);

// DataFrameView: structure, cell access, bulk transfer; ColumnUnitExtension.
#include "data_frames.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ColumnUnitExtension;
using quelbo::DataFrameView;
using quelbo::DataType;

QW_TYPE(std::shared_ptr<DataFrameView>);
QW_SHARED_CAST(quelbo::View, DataFrameView);
QW_TYPE(std::shared_ptr<ColumnUnitExtension>);
QW_SHARED_CAST(quelbo::Extension, ColumnUnitExtension);

using UnitTr = Traits<ColumnUnitExtension>;

// ------------------------------------------------------------ structure

using Index = Arg<size_t, text::size>;
using Text = Arg<std::string, text::string_ref>;
using Frame = SharedSelf<DataFrameView, &FrameTr::self_type>;
using Changing = SharedSelf<DataFrameView, &FrameTr::mut_type>;

// <FrameTr::name>_<Name>(object, arguments...) calling a member of the view.
template <const char* Name, auto Call, class... K>
using FrameMember = Member<FrameTr, Name, Call, K...>;

// set_unit of the view and of its column unit extension: (object, index, unit).
template <class Tr>
using SetUnit =
    Member<Tr, QW_NAME("set_unit"), &Tr::T::setUnit, SharedSelf<typename Tr::T, &Tr::mut_type>, Index, Text>;

PyObject* reshape(DataFrameView* d, quelbo::Vector2u64& shape, StringList& names, std::vector<DataType>& types)
{
    d->reshape(shape, names.items(), types);
    return names.returned(none());
}

// ------------------------------------------------------------ cell access

using CellKind = quelbo::DataFrameCell::Kind;

PyObject* at(DataFrameView* d, size_t column, size_t row)
{
    const quelbo::DataFrameCell cell = d->cell(column, row);
    switch (cell.kind) {
    case CellKind::SIGNED:
        return PyLong_FromLongLong(cell.signedValue);
    case CellKind::UNSIGNED:
        return PyLong_FromUnsignedLongLong(cell.unsignedValue);
    case CellKind::REAL:
        return PyFloat_FromDouble(cell.real);
    default:
        return PyUnicode_DecodeUTF8(cell.text.data(), Py_ssize_t(cell.text.size()), nullptr);
    }
}

// A cell's value, read by the call once the column's kind of cell is known
// (the column is checked before the value is looked at); a str cell is
// declared as a string.
using CellValue = WithId<Object<text::string_ref>>;

// The Python value as a cell of the kind given; false with the Python error
// of the conversion pending.
bool cell_of(const CellValue::value& o, quelbo::DataFrameCell& cell)
{
    switch (cell.kind) {
    case CellKind::SIGNED:
        cell.signedValue = PyLong_AsLongLong(o.v);
        return !(cell.signedValue == -1 && PyErr_Occurred());
    case CellKind::UNSIGNED:
        cell.unsignedValue = PyLong_AsUnsignedLongLong(o.v);
        return !(cell.unsignedValue == (unsigned long long)-1 && PyErr_Occurred());
    case CellKind::REAL:
        cell.real = PyFloat_AsDouble(o.v);
        return !(cell.real == -1.0 && PyErr_Occurred());
    default:
        if (!PyUnicode_Check(o.v)) {
            fail_arg(ERR_TYPE, o.id);
            return false;
        }
        return utf8(o.v, cell.text);
    }
}

PyObject* set_at(DataFrameView* d, size_t column, size_t row, const CellValue::value& value)
{
    quelbo::DataFrameCell cell;
    cell.kind = d->cellKind(column);
    if (!cell_of(value, cell))
        return nullptr;
    d->setCell(column, row, cell);
    return none();
}

// ------------------------------------------------------------ bulk transfer

// DataFrameView__<read|write>_<bytes|strings>(view, column, rowOffset,
// rowCount, block): the bytes of a numeric column in a buffer, the strings of
// a UTF-8 string column in a list.
template <const char* Name, auto Op, class Block>
using ColumnTransfer = BlockTransfer<Name, Op, Changing, Block, Index, Index, Index>;
constexpr auto kStringsDst = &JoinedText<QW_NAME("("), named<std::string>, QW_NAME("* dst, size_t dstCount)")>::text;
constexpr auto kStringsSrc =
    &JoinedText<QW_NAME("("), named<std::string>, QW_NAME(" const* src, size_t srcCount)")>::text;

void add_data_frames(Methods& m)
{
    m.add<SharedDelete<FrameTr>>();
    add_shared_getter<FrameTr, QW_NAME("get_capabilities"), &DataFrameView::capabilities>(
        m, "Return the capabilities of the view: READ, WRITE and RESHAPE.");
    add_shared_getter<FrameTr, QW_NAME("get_shape"), &DataFrameView::shape>(
        m, "Return the shape of the data frame.\n"
           "First element being the number of columns, and the second, the number of rows.");
    m.add<FrameMember<QW_NAME("column_name"), &DataFrameView::columnName, Frame, Index>>(
        "Return the name of a column, index from 0 to shape[0] - 1.\n:raises: Error if the index is out of range.");
    m.add<FrameMember<QW_NAME("column_index"), &DataFrameView::columnIndex, Frame, Text>>(
        "Return the index of the column of this name.\n:raises: Error if no column has this name.");
    m.add<FrameMember<QW_NAME("column_data_type"), &DataFrameView::columnDataType, Frame, Index>>(
        "Return the data type of a column.\n:raises: Error if the index is out of range.");
    m.add<FrameMember<QW_NAME("unit"), &DataFrameView::unit, Changing, Index>>(
        "Return the unit of a column.\n:raises: Error if the index is out of range.");
    m.add<SetUnit<FrameTr>>(
        "Set the unit of a column.\n:raises: Error if the index is out of range or the view cannot be written.");
    m.add<FrameMember<QW_NAME("add_column"), &DataFrameView::addColumn, Changing, Text, DTypeArg<>>>(
        "Add a column of the given name and data type; its unit is empty and its cells zero or empty strings.\n"
        "Available with RESHAPE capability.\n"
        ":raises: NotImplemented if the view does not support reshaping.\n"
        ":raises: Error if the name is already used or the data type is not supported.");
    m.add<FrameMember<QW_NAME("add_rows"), &DataFrameView::addRows, Changing, Index, Index>>(
        "Insert count rows before the row offset (append when offset is the row count); their cells are zero or "
        "empty strings.\nAvailable with RESHAPE capability.\n"
        ":raises: NotImplemented if the view does not support reshaping.\n"
        ":raises: Error if offset is out of bounds.");
    m.add<FrameMember<QW_NAME("remove_column"), &DataFrameView::removeColumn, Changing, Index>>(
        "Remove a column.\nAvailable with RESHAPE capability.\n"
        ":raises: NotImplemented if the view does not support reshaping.\n"
        ":raises: Error if the index is out of range.");
    m.add<FrameMember<QW_NAME("remove_rows"), &DataFrameView::removeRows, Changing, Index, Index>>(
        "Remove count rows from the row offset.\nAvailable with RESHAPE capability.\n"
        ":raises: NotImplemented if the view does not support reshaping.\n"
        ":raises: Error if the rows are out of bounds.");
    add_shared_getter<FrameTr, QW_NAME("to_string"), &DataFrameView::toString>(m, "Return a string representation");
    m.add<FrameMember<QW_NAME("_reshape"), &reshape, Changing, TableShape, ColumnNames, ColumnTypes>>(
        "Replace the whole table by one of the given shape, column names and column data types.\n"
        "Available with RESHAPE capability. All the view's data is invalidated.\n"
        "Warning: No check is done on inputs. Pass arguments very carefully.\n"
        "The names and the types must have the same element count, equal to shape[0]; "
        "column count and row count cannot be 0.\n"
        ":raises: Error otherwise, or for duplicate names.");
    m.add<FrameMember<QW_NAME("_at"), &at, Changing, Index, Index>>(
        "Return the cell of a column at a row as an int, a float or a str.\n"
        ":raises: Error for a column data type without cell access.");
    m.add<FrameMember<QW_NAME("_set_at"), &set_at, Changing, Index, Index, CellValue>>(
        "Store a value into the cell of a column at a row.\n"
        ":raises: Error for a column data type without cell access.");
    m.add<ColumnTransfer<QW_NAME("DataFrameView__read_bytes"), &DataFrameView::readBytes, Destination<>>>(
        "Read rowCount cells of a numeric column from rowOffset into a writable buffer.\n"
        ":raises: Error if the column stores strings, the rows are out of range or the buffer is too small.");
    m.add<ColumnTransfer<QW_NAME("DataFrameView__write_bytes"), &DataFrameView::writeBytes, Source<>>>(
        "Write rowCount cells of a numeric column from rowOffset out of a buffer.\n"
        ":raises: Error if the column stores strings, the rows are out of range or the buffer is too small.");
    m.add<ColumnTransfer<QW_NAME("DataFrameView__read_strings"), &DataFrameView::readStrings, Strings<kStringsDst, 2>>>(
        "Read rowCount strings of a UTF-8 string column from rowOffset into the first items of a list.\n"
        ":raises: Error if the column does not store strings, the rows are out of range or the list is too "
        "short.");
    m.add<
        ColumnTransfer<QW_NAME("DataFrameView__write_strings"), &DataFrameView::writeStrings, Strings<kStringsSrc, 2>>>(
        "Write the first rowCount strings of a list into a UTF-8 string column from rowOffset.\n"
        ":raises: Error if the column does not store strings, the rows are out of range or the list is too "
        "short.");
    m.add<CreateFromPointer<QW_NAME("DataFrameView_create_from_pointer"), DataFrameView>>(
        "Create a DataFrameView from a pointer to a DataFrameView shared pointer as an int.");
    add_hooks<FramePtr>(m, "DataFrameView", false);
}
QW_FAMILY(add_data_frames);

void add_column_units(Methods& m)
{
    m.add<ExtensionCast<UnitTr>>("Cast a generic extension into this kind; None when it is not one.");
    m.add<Member<UnitTr, QW_NAME("unit"), &ColumnUnitExtension::unit,
                 SharedSelf<ColumnUnitExtension, &UnitTr::self_type>, Index>>(
        "Return the unit of a column.\n:raises: Error if the column index is out of range.");
    m.add<SetUnit<UnitTr>>(
        "Set the unit of a column.\n:raises: Error if the column index is out of range or if the data frame "
        "view does not have the WRITE capability.");
    m.add<SharedDelete<UnitTr>>();
    add_hooks<std::shared_ptr<ColumnUnitExtension>>(m, "ColumnUnitExtension", false);
}
QW_FAMILY(add_column_units);

} // namespace

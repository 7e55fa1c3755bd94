// Writer: objects that write data out, made outside this module and reached
// through the shared type table.
#include "quelbo/writer.h"
#include "quelbo/metadata.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw {
namespace {

using WriterPtr = std::shared_ptr<quelbo::Writer>;
QW_TYPE(WriterPtr, "_p_std__shared_ptrT_quelbo__Writer_t");

constexpr const char* kWriter = "quelbo::Writer *";
constexpr const char* kConstWriter = "quelbo::Writer const *";

// One call on the writer of a one-object function: `Name` its Python name,
// `type` the declared writer type, `op` the call and its result.
template <const char* Name, const char* const* Type, class Op>
PyObject* on_writer(PyObject* o, Op op)
{
    static const ArgId a{Name, 1, *Type};
    WriterPtr w;
    if (!shared_self(o, a, w))
        return nullptr;
    return call([&] { return op(*w); });
}

#define QW_WRITER_CALL(fn, type, body)                                                                                 \
    constexpr char k_##fn[] = #fn;                                                                                     \
    PyObject* fn(PyObject*, PyObject* o)                                                                               \
    {                                                                                                                  \
        return on_writer<k_##fn, &type>(o, [](quelbo::Writer& w) { body; });                                           \
    }
QW_WRITER_CALL(Writer_write_all, kWriter, w.writeAll(); return none())
QW_WRITER_CALL(Writer_write_init, kWriter, w.writeInit(); return none())
QW_WRITER_CALL(Writer_write_data, kWriter, w.writeData(); return none())
QW_WRITER_CALL(Writer_write_finish, kWriter, w.writeFinish(); return none())
QW_WRITER_CALL(Writer_name, kConstWriter, return to_py(w.name()))
QW_WRITER_CALL(Writer_version, kConstWriter, return to_py(w.version()))
QW_WRITER_CALL(Writer_to_string, kConstWriter, return to_py(w.toString()))
#undef QW_WRITER_CALL

PyObject* Writer_set_option(PyObject*, PyObject* args)
{
    static const char* f = "Writer_set_option";
    PyObject* a[3];
    WriterPtr w;
    std::string parameter;
    std::shared_ptr<quelbo::VariantDataValue> data;
    if (!unpack(f, args, 3, 3, a) || !shared_self(a[0], {f, 1, kWriter}, w) ||
        !arg(a[1], {f, 2, "std::string const &"}, parameter) ||
        !shared_arg(a[2], {f, 3, "std::shared_ptr< quelbo::VariantDataValue >"}, data))
        return nullptr;
    return call([&] {
        w->setOption(parameter, std::move(data));
        return none();
    });
}

PyObject* delete_Writer(PyObject*, PyObject* o)
{
    static const ArgId a{"delete_Writer", 1, kWriter};
    return destroy<WriterPtr>(o, a);
}

void add_writer(Methods& m)
{
    m.add<&delete_Writer>("delete_Writer", METH_O);
    m.add<&Writer_write_all>("Writer_write_all", METH_O, "Output all the data.");
    m.add<&Writer_write_init>("Writer_write_init", METH_O, "Initialize file and output only the header");
    m.add<&Writer_write_data>("Writer_write_data", METH_O,
                              "Output the data. Should be called between writeInit() and writeFinish().");
    m.add<&Writer_write_finish>("Writer_write_finish", METH_O,
                                "Write footer (if any) and finalize file. Should be called after writeData().");
    m.add<&Writer_name>("Writer_name", METH_O, "Returns the name of the writer");
    m.add<&Writer_version>("Writer_version", METH_O, "Returns the version of the writer");
    m.add<&Writer_set_option>(
        "Writer_set_option", METH_VARARGS,
        "\nSet an option value to writer\n\n"
        ":type parameter: string\n"
        ":param parameter: name of parameter whose value must be set\n"
        ":type data: :py:class:`VariantDataValue`\n"
        ":param data: value to set for the given parameter. Must be built with MetadataValue factory\n\n"
        ":raises: Error if parameter is not known or given data is not valid\n");
    m.add<&Writer_to_string>("Writer_to_string", METH_O, "Return a string representation");
    add_hooks<WriterPtr>(m, "Writer", false);
}

} // namespace

QW_FAMILY(order::writer, &add_writer);

} // namespace qw

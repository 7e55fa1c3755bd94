// Writer: objects that write data out, made outside this module and reached
// through the shared type table.
#include "quelbo/writer.h"
#include "quelbo/metadata.h"
#include "runtime/members.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"
#include "native_types.h"

namespace qw {
namespace {

using WriterPtr = std::shared_ptr<quelbo::Writer>;
QW_TYPE(WriterPtr);

using WriterTr = Traits<quelbo::Writer>;
constexpr auto kWriter = &WriterTr::mut_type;

constexpr auto kParameter = named<const std::string&>;
using SetOption = Fn<QW_NAME("Writer_set_option"), &quelbo::Writer::setOption, SharedSelf<quelbo::Writer, kWriter>,
                     Arg<std::string, kParameter>, SharedArg<quelbo::VariantDataValue>>;

void add_writer(Methods& m)
{
    m.add<Delete<WriterTr, Disowned<WriterPtr, kWriter>>>();
    add_shared_getter<WriterTr, QW_NAME("write_all"), &quelbo::Writer::writeAll, false>(m, "Output all the data.");
    add_shared_getter<WriterTr, QW_NAME("write_init"), &quelbo::Writer::writeInit, false>(
        m, "Initialize file and output only the header");
    add_shared_getter<WriterTr, QW_NAME("write_data"), &quelbo::Writer::writeData, false>(
        m, "Output the data. Should be called between writeInit() and writeFinish().");
    add_shared_getter<WriterTr, QW_NAME("write_finish"), &quelbo::Writer::writeFinish, false>(
        m, "Write footer (if any) and finalize file. Should be called after writeData().");
    add_shared_getter<WriterTr, QW_NAME("name"), &quelbo::Writer::name>(m, "Returns the name of the writer");
    add_shared_getter<WriterTr, QW_NAME("version"), &quelbo::Writer::version>(m, "Returns the version of the writer");
    m.add<SetOption>("\nSet an option value to writer\n\n"
                     ":type parameter: string\n"
                     ":param parameter: name of parameter whose value must be set\n"
                     ":type data: :py:class:`VariantDataValue`\n"
                     ":param data: value to set for the given parameter. Must be built with MetadataValue factory\n\n"
                     ":raises: Error if parameter is not known or given data is not valid\n");
    add_shared_getter<WriterTr, QW_NAME("to_string"), &quelbo::Writer::toString>(m, "Return a string representation");
    add_hooks<WriterPtr>(m, "Writer", false);
}

} // namespace

QW_FAMILY(&add_writer);

} // namespace qw

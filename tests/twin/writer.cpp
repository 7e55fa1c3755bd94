// Test-only writer: records its calls, knows three options and throws on
// unknown ones, on values of another type and on calls out of order.
#include <string>
#include <vector>

#include "quelbo/data_type.h"
#include "quelbo/error.h"
#include "quelbo/metadata.h"
#include "quelbo/writer.h"
#include "runtime/shared.h"

namespace {

using namespace qw;
using WriterPtr = std::shared_ptr<quelbo::Writer>;

QW_TEST_TYPE(WriterPtr, "_p_std__shared_ptrT_quelbo__Writer_t", "std::shared_ptr< quelbo::Writer > *");

class RecordingWriter final : public quelbo::Writer
{
public:
    void writeAll() override { step("writeAll", Idle, Idle); }
    void writeInit() override { step("writeInit", Idle, Opened); }
    void writeData() override
    {
        if (m_state != Opened && m_state != Written)
            refuse("writeData");
        step("writeData", m_state, Written);
    }
    void writeFinish() override { step("writeFinish", Written, Idle); }
    std::string name() const override { return "RecordingWriter"; }
    std::string version() const override { return "1.2"; }

    // "compression": one 64-bit integer from 0 to 9; "comment": one UTF-8
    // string; "quality": one double. An empty value clears the option.
    void setOption(std::string const& parameter, std::shared_ptr<quelbo::VariantDataValue> data) override
    {
        quelbo::DataType want;
        if (parameter == "compression")
            want = quelbo::DataTypeId::INT64;
        else if (parameter == "comment")
            want = quelbo::DataTypeId::UTF8_STRING;
        else if (parameter == "quality")
            want = quelbo::DataTypeId::DOUBLE;
        else
            throw quelbo::Error("RecordingWriter: unknown option '" + parameter + "'");
        if (!data) {
            log.push_back("clear " + parameter);
            return;
        }
        if (data->type() != want || data->count() != 1)
            throw quelbo::Error("RecordingWriter: option '" + parameter + "' takes one " + want.toString());
        if (parameter == "compression") {
            int64_t const level = *static_cast<int64_t const*>(data->raw());
            if (level < 0 || level > 9)
                throw quelbo::Error("RecordingWriter: compression " + std::to_string(level) + " is not 0 to 9");
        }
        log.push_back("set " + parameter + " = " + data->toString());
    }

    std::vector<std::string> log;

private:
    enum State
    {
        Idle,
        Opened,
        Written
    };
    [[noreturn]] void refuse(char const* call)
    {
        static char const* const names[] = {"idle", "after writeInit", "after writeData"};
        throw quelbo::Error(std::string("RecordingWriter: ") + call + " called out of order (" + names[m_state] + ")");
    }
    void step(char const* call, State from, State to)
    {
        if (m_state != from)
            refuse(call);
        m_state = to;
        log.push_back(call);
    }
    State m_state = Idle;
};

PyObject* recording_writer(PyObject*, PyObject*)
{
    return call([] { return shared<quelbo::Writer>(std::make_shared<RecordingWriter>()); });
}

// The calls and options the writer has seen, as a list of str.
PyObject* writer_log(PyObject*, PyObject* o)
{
    WriterPtr w;
    if (!shared_self(o, {"writer_log", 1, "quelbo::Writer *"}, w))
        return nullptr;
    auto* r = dynamic_cast<RecordingWriter*>(w.get());
    if (!r) {
        PyErr_SetString(PyExc_TypeError, "not a recording writer");
        return nullptr;
    }
    PyObject* list = PyList_New(0);
    for (std::string const& entry : r->log) {
        PyObject* s = to_py(entry);
        if (!s || PyList_Append(list, s) != 0) {
            Py_XDECREF(s);
            Py_DECREF(list);
            return nullptr;
        }
        Py_DECREF(s);
    }
    return list;
}

// A writer handle whose shared pointer is empty.
PyObject* empty_writer(PyObject*, PyObject*)
{
    return new_pointer_obj(new WriterPtr(), type_of<WriterPtr>(), RES_OWN);
}

void add_writer_twin(Methods& m)
{
    m.add<&recording_writer>("recording_writer", METH_NOARGS);
    m.add<&writer_log>("writer_log", METH_O);
    m.add<&empty_writer>("empty_writer", METH_NOARGS);
}

} // namespace

QW_FAMILY(add_writer_twin);

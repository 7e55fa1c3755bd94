// Logging, versions, uids, the error classes and the runtime iterator class.
#include "core_args.h"
#include "quelbo/error.h"
#include "quelbo/logger.h"
#include "quelbo/uid.h"
#include "quelbo/version.h"
#include "runtime/members.h"
#include "native_types.h"

// The runtime's iterator class, which has no native class of its own.
namespace swig {
struct SwigPyIterator
{
};
} // namespace swig
namespace qw {
QW_NATIVE(swig::SwigPyIterator);
} // namespace qw

namespace {

using namespace qw;
using swig::SwigPyIterator;

// The module's own version, which cvar.QUELBO_VERSION shows.
const quelbo::VersionInfo kModuleVersion{0, 0, 0};

QW_TYPE(quelbo::Logger);
QW_TYPE(quelbo::VersionInfo);
QW_TYPE(quelbo::Versioning);
QW_TYPE(quelbo::UidGenerator);
QW_TYPE(std::exception);
QW_TYPE(quelbo::Error);
QW_TYPE(quelbo::InvalidArgument);
QW_TYPE(quelbo::NotImplemented);
QW_TYPE(char);
QW_TYPE(SwigPyIterator);

using LoggerTr = Traits<quelbo::Logger>;
using VersionInfoTr = Traits<quelbo::VersionInfo>;
using VersioningTr = Traits<quelbo::Versioning>;
using UidGeneratorTr = Traits<quelbo::UidGenerator>;
using ErrorTr = Traits<quelbo::Error>;
using InvalidArgumentTr = Traits<quelbo::InvalidArgument>;
using NotImplementedTr = Traits<quelbo::NotImplemented>;
using IteratorTr = Traits<SwigPyIterator>;

constexpr auto kVersionInfo = named<quelbo::VersionInfo*>;
constexpr auto kErrorMove = named<quelbo::Error&&>;
using Message = Arg<std::string, text::string_ref>;

// ------------------------------------------------------------------ Logger

struct Logger_log_level : Declare<Logger_log_level, Params<>>
{
    static constexpr const char* name = "Logger_log_level";
    static constexpr const char* doc = "Return the log level of the logging system.";
    static constexpr auto call = [] { return int32_t(quelbo::Logger::logLevel()); };
};

// ------------------------------------------------------------- VersionInfo

// VersionInfo_<field>_get / _set: the field of a version (the setter
// ignores a null object).
template <int quelbo::VersionInfo::*Field>
struct VersionField
{
    static const char* field()
    {
        if (Field == &quelbo::VersionInfo::major)
            return "major";
        return Field == &quelbo::VersionInfo::minor ? "minor" : "patch";
    }
    struct get : Declare<get, Params<Self<quelbo::VersionInfo, kVersionInfo>>>
    {
        static const char* name()
        {
            static const char* fn = joined("VersionInfo_", field(), "_get");
            return fn;
        }
        static constexpr auto call = [](const quelbo::VersionInfo* v) { return v->*Field; };
    };
    struct set : Declare<set, Params<PtrMut<quelbo::VersionInfo, kVersionInfo>, Arg<int, text::integer>>>
    {
        static const char* name()
        {
            static const char* fn = joined("VersionInfo_", field(), "_set");
            return fn;
        }
        static constexpr auto call = [](quelbo::VersionInfo* v, int value) {
            if (v)
                v->*Field = value;
        };
    };
    static void add(Methods& m)
    {
        m.add<set>();
        m.add<get>();
    }
};

// -------------------------------------------------------------- Versioning

constexpr const char* kCheckCompatibility = member_of<quelbo::Versioning, QW_NAME("checkCompatibility")>;
struct check_header : Candidate<Params<>, 1>
{
    static constexpr const char* member = kCheckCompatibility;
    static constexpr auto call = [] { return quelbo::Versioning::checkCompatibility(kModuleVersion); };
};
struct check_given : Candidate<Params<Ref<quelbo::VersionInfo>>, 0>
{
    static constexpr const char* member = kCheckCompatibility;
    static constexpr auto call = [](const quelbo::VersionInfo& v) { return quelbo::Versioning::checkCompatibility(v); };
};
struct Versioning_check_compatibility : DeclareOverloads<Versioning_check_compatibility, check_header, check_given>
{
    static constexpr const char* name = "Versioning_check_compatibility";
    static constexpr const char* doc =
        "\n*Overload 1:*\n\nCheck if the loaded library'version is compatible with the given one.\n\nA version is "
        "compatible if:\n - The major version is the same\n - The library minor version is greater than the given "
        "one.\n\n:type version: :py:class:`VersionInfo`\n:param version: The version to check compatibility "
        "for.\n\n|\n\n*Overload 2:*\n\nCheck if the loaded library is compatible with the one defined in the "
        "header.\n";
};

// ------------------------------------------------------------ UidGenerator

// ------------------------------------------------------------------ errors

constexpr const char* kErrorMember = ErrorTr::constructor;
struct error_copy : Candidate<Params<Ref<quelbo::Error>>, 1>
{
    static constexpr const char* member = kErrorMember;
    static constexpr auto call = [](const quelbo::Error& e) { return constructed(new quelbo::Error(e)); };
};
struct error_message : Candidate<Params<Message>, 0>
{
    static constexpr const char* member = kErrorMember;
    static constexpr auto call = [](const std::string& m) { return constructed(new quelbo::Error(m)); };
};
// listed in the message; the copy above always takes a handle first
struct error_move : Candidate<Params<Ref<quelbo::Error, kErrorMove>>, 2>
{
    static constexpr const char* member = kErrorMember;
};
struct new_Error : DeclareOverloads<new_Error, error_copy, error_message, ListedOnly<error_move>>
{
    static constexpr const char* name = "new_Error";
};

// new_InvalidArgument / new_NotImplemented: from a message.
template <class Tr>
struct new_from_message : Declare<new_from_message<Tr>, Params<Message>>, NewName<Tr>
{
    static constexpr auto call = [](const std::string& m) { return constructed(new typename Tr::T(m)); };
};

struct Error___str__ : Declare<Error___str__, Params<Self<quelbo::Error>>>
{
    static constexpr const char* name = "Error___str__";
    static constexpr auto call = [](const quelbo::Error* e) {
        const char* text = e->what();
        return text ? from_string(text, std::strlen(text)) : none();
    };
};

// ---------------------------------------------------------- SwigPyIterator

// No function returns an iterator; each member refuses whatever it is given.
constexpr auto kIterator = named<SwigPyIterator*>;

template <class... Operand>
PyObject* unavailable(SwigPyIterator*, Operand...)
{
    PyErr_SetString(PyExc_RuntimeError, "iterator is not available");
    return nullptr;
}

using Iterator = Self<SwigPyIterator, kIterator>;

// The object of a member without operand: the argument itself, or the first
// of the one or two arguments of a tuple.
struct IteratorArg : Iterator
{
    static bool get(PyObject* o, const ArgId& a, SwigPyIterator*& v)
    {
        PyObject* t[2];
        if (PyTuple_Check(o)) {
            if (!unpack(a.fn, o, 1, 2, t))
                return false;
            o = t[0];
        }
        return self(o, a, v);
    }
};

// A member with an operand that may be left out.
template <const char* Name>
struct iterator_step : DeclareDefaults<iterator_step<Name>, Params<Iterator, Object<text::object>>, 1>
{
    static constexpr const char* name = Name;
    static constexpr auto call = &unavailable<PyObject*>;
};
template <const char* Name>
using iterator_query = Fn<Name, &unavailable<>, IteratorArg>;

void add_iterator(Methods& m)
{
    m.add<Delete<IteratorTr>>();
    m.add<iterator_query<QW_NAME("SwigPyIterator_value")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator_incr")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator_decr")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator_distance")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator_equal")>>();
    m.add<iterator_query<QW_NAME("SwigPyIterator_copy")>>();
    m.add<iterator_query<QW_NAME("SwigPyIterator_next")>>();
    m.add<iterator_query<QW_NAME("SwigPyIterator___next__")>>();
    m.add<iterator_query<QW_NAME("SwigPyIterator_previous")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator_advance")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___eq__")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___ne__")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___iadd__")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___isub__")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___add__")>>();
    m.add<iterator_step<QW_NAME("SwigPyIterator___sub__")>>();
    add_hooks<SwigPyIterator>(m, "SwigPyIterator", false);
}

// ------------------------------------------------------------ registration

void add_core(Methods& m)
{
    add_iterator(m);

    m.add<Fn<QW_NAME("Logger_init"), &quelbo::Logger::init, Arg<quelbo::LogLevel>>>(
        "\nForces initialization of the logging system with\na given log level.\n\nThis should be called before "
        "any call to Quelbo.\n\n:type level: int\n:param level: The desired log level.\n\nWarning: If the "
        "logging system is already initialized,\n         its log level will not be changed.\n");
    m.add<Logger_log_level>();
    add_class<LoggerTr, NewDefault>(m);

    VersionField<&quelbo::VersionInfo::major>::add(m);
    VersionField<&quelbo::VersionInfo::minor>::add(m);
    VersionField<&quelbo::VersionInfo::patch>::add(m);
    add_class<VersionInfoTr, NewDefault>(m);

    m.add<Fn<QW_NAME("Versioning_version"), &quelbo::Versioning::version>>(
        "Return the version of the currently loaded Quelbo library.");
    m.add<Fn<QW_NAME("Versioning_version_string"), &quelbo::Versioning::versionString>>(
        "Return a description string of the currently loaded Quelbo library.");
    m.add<Versioning_check_compatibility>();
    add_class<VersioningTr, NewDefault>(m);

    m.add<Fn<QW_NAME("UidGenerator_generate"), &quelbo::UidGenerator::generate>>(
        "\nGenerate a random unique identifier.\n\nThis function will never return a "
        "value equal to UNDEFINED_UID.\n");
    add_class<UidGeneratorTr, NewDefault>(m);

    m.add<new_Error>();
    m.add<Delete<ErrorTr>>();
    m.add<Error___str__>();
    add_hooks<quelbo::Error>(m, "Error");
    add_class<InvalidArgumentTr, new_from_message>(m);
    add_class<NotImplementedTr, new_from_message>(m);
}

QW_FAMILY(add_core);

} // namespace

namespace qw {
const quelbo::VersionInfo* module_version()
{
    return &kModuleVersion;
}
} // namespace qw

// Logging, versions, uids, the error classes and the runtime iterator class.
#include "quelbo/error.h"
#include "quelbo/logger.h"
#include "quelbo/uid.h"
#include "quelbo/version.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;

// The module's own version, which cvar.QUELBO_VERSION shows.
const quelbo::VersionInfo kModuleVersion{0, 0, 0};

struct SwigPyIterator
{
};

QW_TYPE(quelbo::Logger, "_p_quelbo__Logger");
QW_TYPE(quelbo::VersionInfo, "_p_quelbo__VersionInfo");
QW_TYPE(quelbo::Versioning, "_p_quelbo__Versioning");
QW_TYPE(quelbo::UidGenerator, "_p_quelbo__UidGenerator");
QW_TYPE(std::exception, "_p_std__exception");
QW_TYPE(quelbo::Error, "_p_quelbo__Error");
QW_TYPE(quelbo::InvalidArgument, "_p_quelbo__InvalidArgument");
QW_TYPE(quelbo::NotImplemented, "_p_quelbo__NotImplemented");
QW_TYPE(char, "_p_char");
QW_TYPE(SwigPyIterator, "_p_swig__SwigPyIterator");
QW_CAST(quelbo::Error, quelbo::InvalidArgument);
QW_CAST(quelbo::Error, quelbo::NotImplemented);
QW_CAST(std::exception, quelbo::Error);
QW_CAST(std::exception, quelbo::InvalidArgument);
QW_CAST(std::exception, quelbo::NotImplemented);

#define QW_TRAITS(Tr, Type, Name, Native)                                                                              \
    struct Tr                                                                                                          \
    {                                                                                                                  \
        using T = Type;                                                                                                \
        static constexpr const char* name = Name;                                                                      \
        static constexpr const char* native = Native;                                                                  \
    }
QW_TRAITS(LoggerTr, quelbo::Logger, "Logger", "quelbo::Logger");
QW_TRAITS(VersionInfoTr, quelbo::VersionInfo, "VersionInfo", "quelbo::VersionInfo");
QW_TRAITS(VersioningTr, quelbo::Versioning, "Versioning", "quelbo::Versioning");
QW_TRAITS(UidGeneratorTr, quelbo::UidGenerator, "UidGenerator", "quelbo::UidGenerator");
QW_TRAITS(ErrorTr, quelbo::Error, "Error", "quelbo::Error");
QW_TRAITS(InvalidArgumentTr, quelbo::InvalidArgument, "InvalidArgument", "quelbo::InvalidArgument");
QW_TRAITS(NotImplementedTr, quelbo::NotImplemented, "NotImplemented", "quelbo::NotImplemented");
QW_TRAITS(IteratorTr, SwigPyIterator, "SwigPyIterator", "swig::SwigPyIterator");

// ------------------------------------------------------------------ Logger

PyObject* Logger_init(PyObject*, PyObject* o)
{
    quelbo::LogLevel level;
    if (!arg(o, {"Logger_init", 1, "quelbo::LogLevel"}, level))
        return nullptr;
    return call([&] {
        quelbo::Logger::init(level);
        return none();
    });
}

PyObject* Logger_log_level(PyObject*, PyObject*)
{
    return call([] { return to_py(int32_t(quelbo::Logger::logLevel())); });
}

// ------------------------------------------------------------- VersionInfo

template <int quelbo::VersionInfo::*Field>
struct VersionField
{
    static PyObject* get(PyObject*, PyObject* o)
    {
        static const char* fn = joined("VersionInfo_", name(), "_get");
        quelbo::VersionInfo* v;
        if (!self(o, {fn, 1, "quelbo::VersionInfo *"}, v))
            return nullptr;
        return to_py(v->*Field);
    }
    static PyObject* set(PyObject*, PyObject* args)
    {
        static const char* fn = joined("VersionInfo_", name(), "_set");
        PyObject* a[2];
        quelbo::VersionInfo* v;
        int value;
        if (!unpack(fn, args, 2, 2, a) || !ptr_mut(a[0], {fn, 1, "quelbo::VersionInfo *"}, v) ||
            !arg(a[1], {fn, 2, "int"}, value))
            return nullptr;
        return call([&] {
            if (v)
                v->*Field = value;
            return none();
        });
    }
    static const char* name()
    {
        if (Field == &quelbo::VersionInfo::major)
            return "major";
        return Field == &quelbo::VersionInfo::minor ? "minor" : "patch";
    }
    static void add(Methods& m)
    {
        m.add<&set>(joined("VersionInfo_", name(), "_set"), METH_VARARGS);
        m.add<&get>(joined("VersionInfo_", name(), "_get"), METH_O);
    }
};

// -------------------------------------------------------------- Versioning

PyObject* Versioning_version(PyObject*, PyObject*)
{
    return call([] { return value(quelbo::Versioning::version()); });
}

PyObject* Versioning_version_string(PyObject*, PyObject*)
{
    return call([] { return to_py(quelbo::Versioning::versionString()); });
}

PyObject* Versioning_check_compatibility(PyObject*, PyObject* args)
{
    static const Overloads rows(
        "Versioning_check_compatibility",
        {{"quelbo::Versioning::checkCompatibility()", 0, 0, nullptr,
          [](Args, Py_ssize_t) {
              return call([] { return to_py(quelbo::Versioning::checkCompatibility(kModuleVersion)); });
          },
          1},
         {"quelbo::Versioning::checkCompatibility(quelbo::VersionInfo const &)", 1, 1,
          [](Args a, Py_ssize_t) { return is_obj<quelbo::VersionInfo>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              quelbo::VersionInfo* v;
              if (!ref(a[0], {"Versioning_check_compatibility", 1, "quelbo::VersionInfo const &"}, v))
                  return nullptr;
              return call([&] { return to_py(quelbo::Versioning::checkCompatibility(*v)); });
          },
          0}});
    return rows(args);
}

// ------------------------------------------------------------ UidGenerator

PyObject* UidGenerator_generate(PyObject*, PyObject*)
{
    return call([] { return to_py(quelbo::UidGenerator::generate()); });
}

// ------------------------------------------------------------------ errors

PyObject* new_Error(PyObject*, PyObject* args)
{
    static const char* fn = "new_Error";
    static const Overloads rows(fn, {{"quelbo::Error::Error(quelbo::Error const &)", 1, 1,
                                      [](Args a, Py_ssize_t) { return is_obj<quelbo::Error>(a[0]); },
                                      [](Args a, Py_ssize_t) -> PyObject* {
                                          quelbo::Error* e;
                                          if (!ref(a[0], {fn, 1, "quelbo::Error const &"}, e))
                                              return nullptr;
                                          return call([&] { return constructed(new quelbo::Error(*e)); });
                                      },
                                      1},
                                     {"quelbo::Error::Error(std::string const &)", 1, 1,
                                      [](Args a, Py_ssize_t) { return is<std::string>(a[0]); },
                                      [](Args a, Py_ssize_t) -> PyObject* {
                                          std::string message;
                                          if (!arg(a[0], {fn, 1, "std::string const &"}, message))
                                              return nullptr;
                                          return call([&] { return constructed(new quelbo::Error(message)); });
                                      },
                                      0},
                                     // listed in the message; the copy above always takes a handle first
                                     {"quelbo::Error::Error(quelbo::Error &&)", 1, 1, listed_only, nullptr, 2}});
    return rows(args);
}

// new_InvalidArgument / new_NotImplemented: from a message.
template <class Tr>
PyObject* new_from_message(PyObject*, PyObject* o)
{
    static const char* fn = joined("new_", Tr::name);
    std::string message;
    if (!arg(o, {fn, 1, "std::string const &"}, message))
        return nullptr;
    return call([&] { return constructed(new typename Tr::T(message)); });
}

PyObject* Error___str__(PyObject*, PyObject* o)
{
    quelbo::Error* e;
    if (!self(o, {"Error___str__", 1, "quelbo::Error const *"}, e))
        return nullptr;
    return call([&] {
        const char* text = e->what();
        return text ? from_string(text, std::strlen(text)) : none();
    });
}

// ---------------------------------------------------------- SwigPyIterator

// No function returns an iterator; each member refuses whatever it is given.
PyObject* iterator_member(const char* fn, PyObject* o)
{
    SwigPyIterator* it;
    if (!self(o, {fn, 1, "swig::SwigPyIterator *"}, it))
        return nullptr;
    PyErr_SetString(PyExc_RuntimeError, "iterator is not available");
    return nullptr;
}

template <const char* Fn>
PyObject* iterator_fn(PyObject*, PyObject* args)
{
    PyObject* a[2];
    Py_ssize_t n;
    if (PyTuple_Check(args)) {
        if (!unpack(Fn, args, 1, 2, a, &n))
            return nullptr;
        return iterator_member(Fn, a[0]);
    }
    return iterator_member(Fn, args);
}

constexpr char it_value[] = "SwigPyIterator_value";
constexpr char it_incr[] = "SwigPyIterator_incr";
constexpr char it_decr[] = "SwigPyIterator_decr";
constexpr char it_distance[] = "SwigPyIterator_distance";
constexpr char it_equal[] = "SwigPyIterator_equal";
constexpr char it_copy[] = "SwigPyIterator_copy";
constexpr char it_next[] = "SwigPyIterator_next";
constexpr char it___next__[] = "SwigPyIterator___next__";
constexpr char it_previous[] = "SwigPyIterator_previous";
constexpr char it_advance[] = "SwigPyIterator_advance";
constexpr char it___eq__[] = "SwigPyIterator___eq__";
constexpr char it___ne__[] = "SwigPyIterator___ne__";
constexpr char it___iadd__[] = "SwigPyIterator___iadd__";
constexpr char it___isub__[] = "SwigPyIterator___isub__";
constexpr char it___add__[] = "SwigPyIterator___add__";
constexpr char it___sub__[] = "SwigPyIterator___sub__";

void add_iterator(Methods& m)
{
    m.add<&ClassOps<IteratorTr>::del>("delete_SwigPyIterator", METH_O);
    m.add<&iterator_fn<it_value>>(it_value, METH_O);
    m.add<&iterator_fn<it_incr>>(it_incr, METH_VARARGS);
    m.add<&iterator_fn<it_decr>>(it_decr, METH_VARARGS);
    m.add<&iterator_fn<it_distance>>(it_distance, METH_VARARGS);
    m.add<&iterator_fn<it_equal>>(it_equal, METH_VARARGS);
    m.add<&iterator_fn<it_copy>>(it_copy, METH_O);
    m.add<&iterator_fn<it_next>>(it_next, METH_O);
    m.add<&iterator_fn<it___next__>>(it___next__, METH_O);
    m.add<&iterator_fn<it_previous>>(it_previous, METH_O);
    m.add<&iterator_fn<it_advance>>(it_advance, METH_VARARGS);
    m.add<&iterator_fn<it___eq__>>(it___eq__, METH_VARARGS);
    m.add<&iterator_fn<it___ne__>>(it___ne__, METH_VARARGS);
    m.add<&iterator_fn<it___iadd__>>(it___iadd__, METH_VARARGS);
    m.add<&iterator_fn<it___isub__>>(it___isub__, METH_VARARGS);
    m.add<&iterator_fn<it___add__>>(it___add__, METH_VARARGS);
    m.add<&iterator_fn<it___sub__>>(it___sub__, METH_VARARGS);
    add_hooks<SwigPyIterator>(m, "SwigPyIterator", false);
}

// ------------------------------------------------------------ registration

void add_core(Methods& m)
{
    add_iterator(m);

    m.add<&Logger_init>(
        "Logger_init", METH_O,
        "\nForces initialization of the logging system with\na given log level.\n\nThis should be called before "
        "any call to Quelbo.\n\n:type level: int\n:param level: The desired log level.\n\nWarning: If the "
        "logging system is already initialized,\n         its log level will not be changed.\n");
    m.add<&Logger_log_level>("Logger_log_level", METH_NOARGS, "Return the log level of the logging system.");
    ClassOps<LoggerTr>::add<&ClassOps<LoggerTr>::new_default>(m);

    VersionField<&quelbo::VersionInfo::major>::add(m);
    VersionField<&quelbo::VersionInfo::minor>::add(m);
    VersionField<&quelbo::VersionInfo::patch>::add(m);
    ClassOps<VersionInfoTr>::add<&ClassOps<VersionInfoTr>::new_default>(m);

    m.add<&Versioning_version>("Versioning_version", METH_NOARGS,
                               "Return the version of the currently loaded Quelbo library.");
    m.add<&Versioning_version_string>("Versioning_version_string", METH_NOARGS,
                                      "Return a description string of the currently loaded Quelbo library.");
    m.add<&Versioning_check_compatibility>(
        "Versioning_check_compatibility", METH_VARARGS,
        "\n*Overload 1:*\n\nCheck if the loaded library'version is compatible with the given one.\n\nA version is "
        "compatible if:\n - The major version is the same\n - The library minor version is greater than the given "
        "one.\n\n:type version: :py:class:`VersionInfo`\n:param version: The version to check compatibility "
        "for.\n\n|\n\n*Overload 2:*\n\nCheck if the loaded library is compatible with the one defined in the "
        "header.\n");
    ClassOps<VersioningTr>::add<&ClassOps<VersioningTr>::new_default>(m);

    m.add<&UidGenerator_generate>(
        "UidGenerator_generate", METH_NOARGS,
        "\nGenerate a random unique identifier.\n\nThis function will never return a value equal to "
        "UNDEFINED_UID.\n");
    ClassOps<UidGeneratorTr>::add<&ClassOps<UidGeneratorTr>::new_default>(m);

    m.add<&new_Error>("new_Error", METH_VARARGS);
    m.add<&ClassOps<ErrorTr>::del>("delete_Error", METH_O);
    m.add<&Error___str__>("Error___str__", METH_O);
    add_hooks<quelbo::Error>(m, "Error");
    ClassOps<InvalidArgumentTr>::add<&new_from_message<InvalidArgumentTr>>(m, METH_O);
    ClassOps<NotImplementedTr>::add<&new_from_message<NotImplementedTr>>(m, METH_O);
}

QW_FAMILY(order::core, add_core);

} // namespace

namespace qw {
const quelbo::VersionInfo* module_version()
{
    return &kModuleVersion;
}
} // namespace qw

// Binding runtime shared by _quelbo and _quelbo_cuda.
//
// Handles carry native pointers into Python; the type table (shared between
// the modules through a capsule) knows every wrapped native type, its
// registered proxy class and the derived types accepted in its place.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {

typedef void* (*swig_converter_func)(void*, int*);
struct swig_type_info;
typedef swig_type_info* (*swig_dycast_func)(void**);
struct swig_cast_info;

// One native type. Layout shared by every module that joins the table.
struct swig_type_info
{
    const char* name;       // mangled name, the key of the shared table
    const char* str;        // printable names separated by '|', the last is the pretty name
    swig_dycast_func dcast; // always null
    swig_cast_info* cast;   // casts into this type (doubly linked)
    void* clientdata;       // SwigPyClientData once a class is registered
    int owndata;            // 1 when the entry owns its client data
};

struct swig_cast_info
{
    swig_type_info* type;          // a type accepted where the owner is expected
    swig_converter_func converter; // null: the same address
    swig_cast_info* next;
    swig_cast_info* prev;
};

struct swig_module_info
{
    swig_type_info** types; // entries after joining (own or adopted), sorted by mangled name
    size_t size;
    swig_module_info* next; // circular list of joined modules
    swig_type_info** type_initial;
    swig_cast_info** cast_initial;
    void* clientdata;
};

struct SwigPyClientData
{
    PyObject* klass;
    PyObject* newraw;
    PyObject* newargs;
    PyObject* destroy;
    int delargs;
    int implicitconv;
    PyTypeObject* pytype;
};

struct SwigPyObject
{
    PyObject_HEAD void* ptr;
    swig_type_info* ty;
    int own;
    PyObject* next;
};

struct SwigPyPacked
{
    PyObject_HEAD void* pack;
    swig_type_info* ty;
    size_t size;
};

} // extern "C"

namespace qw {

// Conversion result codes.
enum : int
{
    OK = 0,
    ERR_TYPE_ARG = -1, // reported as TypeError
    ERR_IO = -2,
    ERR_RUNTIME = -3,
    ERR_INDEX = -4,
    ERR_TYPE = -5,
    ERR_ZERODIV = -6,
    ERR_OVERFLOW = -7,
    ERR_SYNTAX = -8,
    ERR_VALUE = -9,
    ERR_SYSTEM = -10,
    ERR_ATTRIBUTE = -11,
    ERR_MEMORY = -12,
    ERR_NULL = -13,
    ERR_RELEASE = -200,
    NEWMEM = 2,
};

// Options of convert_ptr.
enum : int
{
    CV_DISOWN = 0x1,
    CV_NO_NULL = 0x4,
    CV_CLEAR = 0x8,
    CV_RELEASE = CV_DISOWN | CV_CLEAR,
};

// Options of new_pointer_obj.
enum : int
{
    RES_OWN = 0x1,
    RES_NOPROXY = 0x2,
};

// --- handles -------------------------------------------------------------
PyTypeObject* handle_type();
PyTypeObject* packed_type();
bool is_handle(PyObject* o);
// The handle behind a proxy instance (through its `this` chain), or null.
SwigPyObject* find_handle(PyObject* o);
int convert_ptr(PyObject* obj, void** ptr, swig_type_info* ty, int flags, int* own = nullptr);
// The handle of obj's chain that ty accepts, with the cast used (null for
// the type itself); nothing is converted.
SwigPyObject* match_handle(PyObject* obj, swig_type_info* ty, swig_cast_info** cast);
// The check form: can obj be converted into ty (None accepted when allow_none)?
bool can_convert(PyObject* obj, swig_type_info* ty, bool allow_none);
PyObject* new_pointer_obj(void* ptr, swig_type_info* ty, int flags);
PyObject* new_handle(void* ptr, swig_type_info* ty, int own);
const char* pretty_name(swig_type_info* ty);
swig_type_info* type_query(const char* name);

// Objects whose memory the module must never write or free (module
// constants and the library's exported statics handed out as borrowed).
void mark_readonly(const void* p);
bool is_readonly(const void* p);

// --- start-up ------------------------------------------------------------
struct TypeDecl
{
    swig_type_info* info;
    swig_type_info** slot; // receives the entry in use after joining
};
struct CastDecl
{
    swig_type_info** base;    // expected type
    swig_type_info* derived;  // the module's own entry of the accepted type
    swig_converter_func conv; // null: same address
};
void declare_type(TypeDecl d);
void declare_cast(CastDecl d);
// Builds the module record from the declared types and joins the shared table.
bool init_runtime();
bool join_type_table(PyObject* module);

// --- calling conventions -----------------------------------------------
// Unpacks an argument tuple; sets the count TypeError on failure.
bool unpack(const char* name, PyObject* args, Py_ssize_t min, Py_ssize_t max, PyObject** objs,
            Py_ssize_t* count = nullptr);

// An argument's identity in messages.
struct A
{
    const char* fn;
    int num;
    const char* ty;
};

PyObject* exception_for(int code);
// "in method 'fn', argument n of type 'ty'" with the exception of code.
void fail_arg(int code, const A& a);
// ValueError "invalid null reference in method ..."
void fail_null(const A& a);
// RuntimeError "in method ..., cannot release ownership ..."
void fail_release(const A& a);
// The overload TypeError, merged into a pending TypeError.
PyObject* fail_overload(const char* fn, std::initializer_list<const char*> prototypes);

// notImplementedRule applied to a function's outcome.
PyObject* not_implemented(PyObject* result);

// Library errors as Python exceptions (the registered Error class, else RuntimeError).
void raise_library_error(std::exception const& e);
PyObject* registered_error_class();

// Strings.
PyObject* from_string(const char* s, size_t n);
inline PyObject* from_string(const std::string& s)
{
    return from_string(s.data(), s.size());
}

// Python code that runs while a flat function converts its arguments (a user
// sequence's item access, a computed `this`) may delete an object the
// function has already converted. Such deletions wait until the library call
// is over: destruction is deferred while user code runs inside a conversion.
struct UserCode
{
    UserCode();
    ~UserCode();
};
// Destroys now, or later when a conversion is running user code.
void destroy_or_defer(void* p, void (*destroy)(void*));
// Destroys what was deferred, once no conversion is running user code.
void flush_deferred();

// Persistent copy of a generated name (method names, message texts).
const char* intern(const std::string& s);

// Numpy's C function table, filled at start-up.
extern void** numpy_api;
bool import_numpy();

} // namespace qw

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
#include <vector>

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

// Conversion result codes (the exception each stands for: exception_for).
enum : int
{
    OK = 0,
    ERR_TYPE_ARG = -1, // a wrong object: TypeError
    ERR_TYPE = -5,     // TypeError
    ERR_OVERFLOW = -7, // OverflowError
    ERR_VALUE = -9,    // a value the type holds, refused: ValueError
    ERR_MEMORY = -12,  // MemoryError
    ERR_NULL = -13,    // None where an object is needed: RuntimeError, or the null-reference ValueError
    ERR_RELEASE = -200,
    NEWMEM = 2,
    // The object is held by an owning handle of this module: its destruction
    // waits for the outermost call, whatever Python code does meanwhile.
    HELD = 4,
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

// A handle of this runtime: the shared layout, then what only this runtime's
// handles carry. Every module of the runtime builds its handles alike; a
// handle of another module of the same kind has the shared layout only, so
// these fields are read through own_handle alone.
struct Handle : SwigPyObject
{
    // The handle an in-place operator handed this handle's object to, or,
    // for the result of one whose left handle owned nothing, the handle that
    // holds the object: the object is reached through it, and it is kept
    // alive by this one.
    PyObject* heir;
    // What owns the memory `ptr` points into when no native owner does (a
    // long string result's text).
    PyObject* keep;
    // Another handle's `next` points here: a handle is in one chain at most.
    int linked;
    // The shared table's capsule, held while the handle lives when it was
    // made owning and this module made the capsule (null otherwise).
    PyObject* table;
};

// A counted reference for the span of a scope (none for null). Python code
// that the runtime runs may let go of what a record, a dict, a tuple or an
// attribute lent: whatever is used across it is held so.
class Held
{
public:
    explicit Held(PyObject* o) : o_(o) { Py_XINCREF(o_); }
    ~Held() { Py_XDECREF(o_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    PyObject* get() const { return o_; }

private:
    PyObject* o_;
};

// --- handles -------------------------------------------------------------
PyTypeObject* handle_type();
PyTypeObject* packed_type();
// A type of the module, named `name` (undotted) with the module as its
// `__module__`.
PyTypeObject* make_type(const char* name, size_t basicsize, PyType_Slot* slots);
// The handle types of this runtime's modules, and those of other modules of
// the same kind: a type made in C named "SwigPyObject", deriving from object
// directly, with room for the shared layout. A class defined in Python never
// qualifies, whatever its name.
bool is_handle(PyObject* o);
// The handle as this runtime's own (with its extra fields), or null for a
// handle of another module (or anything else).
Handle* own_handle(PyObject* o);
inline Handle* own_handle(SwigPyObject* h)
{
    return own_handle(reinterpret_cast<PyObject*>(h));
}
// An object known to be this runtime's handle.
inline Handle* as_handle(PyObject* o)
{
    return reinterpret_cast<Handle*>(o);
}
// The handle behind a proxy instance (through its `this` chain), or null.
SwigPyObject* find_handle(PyObject* o);
int convert_ptr(PyObject* obj, void** ptr, swig_type_info* ty, int flags, int* own = nullptr);
// While an overloaded function tries its candidates, each argument's `this`
// is read once: the handle found first (held until the function returns)
// serves every later check and conversion of the same call. Each thread has
// its own: threads interleave while Python code runs inside conversions, and
// a call's recognition lives in its frame, opened and closed on its thread.
class Recognised
{
public:
    Recognised();
    ~Recognised();
    Recognised(const Recognised&) = delete;
    Recognised& operator=(const Recognised&) = delete;

    SwigPyObject* find(PyObject* o) const;
    void keep(PyObject* o, SwigPyObject* h);

private:
    struct Entry
    {
        PyObject* obj;
        SwigPyObject* handle;
    };
    Entry entries_[4];
    int count_ = 0;
    Recognised* outer_; // the thread's one it replaces for its time
};
// The recognition of the overloaded function running now on this thread, or
// null (a call opened since hides its caller's: see CallGuard). Read as
// directly as a global: every call reads it.
extern __thread Recognised* running_recognition __attribute__((tls_model("initial-exec")));
// The handle of obj's chain that ty accepts, with the cast used (null for
// the type itself); nothing is converted.
SwigPyObject* match_handle(PyObject* obj, swig_type_info* ty, swig_cast_info** cast);
// The check form: can obj be converted into ty (None accepted when allow_none)?
bool can_convert(PyObject* obj, swig_type_info* ty, bool allow_none);
PyObject* new_pointer_obj(void* ptr, swig_type_info* ty, int flags);
// A result pointing into memory that `keep` owns (the reference is stolen).
PyObject* new_kept_pointer(void* ptr, swig_type_info* ty, PyObject* keep);
// handle.append(other): links other's chain in after the handle.
PyObject* append_handle(PyObject* self, PyObject* other);
// The proxy instance of the type's registered class holding `handle`, or the
// handle itself when no class is registered (a new reference).
PyObject* proxy_for(PyObject* handle, swig_type_info* ty);
PyObject* new_handle(void* ptr, swig_type_info* ty, int own);
// A type without a class whose owning handles are destroyed through `def`
// (a single-object function of the module): a class record holding only
// that function, made once, unless the type has one already.
bool attach_destroy(swig_type_info* ty, PyMethodDef* def);
// The object a handle stands for now: followed through in-place heirs.
void* handle_target(SwigPyObject* h);
// Does the handle own its object (and may destroy or hand it over)?
bool handle_owns(SwigPyObject* h);
// The object the handle gives up to be destroyed (null when it owned none,
// or owned a module constant); the handle reaches nothing afterwards.
void* give_up(SwigPyObject* h);
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
// A family's part of the method table (methods.h): a function that adds the
// family's functions.
struct Methods;
using TablePartFn = void (*)(Methods&);
// The names of a module's flat functions in the order its table shows them
// (the module's table_order.h). Empty: the functions in the order they are
// added, unchecked (a test module's table).
struct TableOrder
{
    const char* const* names = nullptr;
    std::size_t count = 0;
    TableOrder() = default;
    TableOrder(const char* const* list, std::size_t n) : names(list), count(n) {}
    template <std::size_t N>
    constexpr TableOrder(const char* const (&list)[N]) : names(list), count(N)
    {
    }
};
void declare_type(TypeDecl d);
void declare_cast(CastDecl d);
void declare_family(TablePartFn fn);
// Puts `defs` in the order of `order`; false, with `fault` naming the
// function, when a function is not listed, a listed name not registered, or
// a name registered or listed twice.
bool sort_table(std::vector<PyMethodDef>& defs, TableOrder order, std::string& fault);
// Builds the module record from the declared types and the module's rows of
// the type list, and joins the shared table.
bool init_runtime();
bool join_type_table(PyObject* module);
// Creates a module of this runtime: every family's functions in the table
// order `order` (ImportError when it does not list exactly the registered
// functions), each run inside the call guard; joins the shared type table
// with an entry for each of its rows of the type list (`carried`: kMain,
// kGpu; 0 for a module with its declared types only).
PyObject* create_module(PyModuleDef& def, unsigned carried = 0, TableOrder order = {});

// --- calling conventions -----------------------------------------------
// Unpacks an argument tuple into objs[0, max) (null after the last given);
// sets the count TypeError on failure. A tuple of an accepted count, nearly
// every call's, is read inline; unpack_rest handles every other form.
bool unpack_rest(const char* name, PyObject* args, Py_ssize_t min, Py_ssize_t max, PyObject** objs,
                 Py_ssize_t* count);
// The n items of a tuple of an accepted count into objs, the missing ones
// up to max as null.
inline bool unpack_items(PyObject* args, Py_ssize_t n, Py_ssize_t max, PyObject** objs, Py_ssize_t* count)
{
    for (Py_ssize_t i = 0; i < n; ++i)
        objs[i] = PyTuple_GetItem(args, i);
    for (Py_ssize_t i = n; i < max; ++i)
        objs[i] = nullptr;
    if (count)
        *count = n;
    return true;
}
inline bool unpack(const char* name, PyObject* args, Py_ssize_t min, Py_ssize_t max, PyObject** objs,
                   Py_ssize_t* count = nullptr)
{
    const Py_ssize_t n = args && PyTuple_CheckExact(args) ? Py_SIZE(args) : -1;
    if (n < min || n > max)
        return unpack_rest(name, args, min, max, objs, count);
    return unpack_items(args, n, max, objs, count);
}

// An argument's identity in messages: the function, its place (from 1) and
// its declared type text.
struct ArgId
{
    const char* fn;
    int num;
    const char* ty;
};

PyObject* exception_for(int code);
// "in method 'fn', argument n of type 'ty'" and the detail, with the
// exception of code.
void fail_arg(int code, const ArgId& a, const char* detail = "");
// ValueError "invalid null reference in method ..."
void fail_null(const ArgId& a);
// RuntimeError "in method ..., cannot release ownership ..."
void fail_release(const ArgId& a);
// A module's delete_ function (the single-object form), or null for
// anything else: only those may serve as a class's __swig_destroy__.
PyCFunction flat_delete_function(PyObject* fn);
PyCFunction find_delete_function(PyCFunction f);
// What a delete_ function does to an owning handle of its own type, without
// the call: a dying handle destroys its object through it directly.
struct NativeDelete
{
    swig_type_info** type;  // the entry in use of the type it destroys
    void (*destroy)(void*); // deletes one object of that type
};
// The delete_ function behind a class's __swig_destroy__: its C function
// (null when it is none) and, for this module's own, its native form.
struct DeleteVerdict
{
    PyObject* fn;
    PyCFunction destroy;
    const NativeDelete* native;
};

// notImplementedRule applied to a function's outcome.
PyObject* not_implemented(PyObject* result);

// Library errors as Python exceptions (the registered Error class, else RuntimeError).
void raise_library_error(std::exception const& e);
// Inside a catch block: the exception being handled as a Python exception
// (exhausted memory MemoryError, a library error the registered Error class,
// anything else RuntimeError). Returns null. A call that a Python signal
// handler ended (quelbo::Interrupted, the handler's exception pending) ends
// with the handler's exception.
PyObject* raise_native_exception() noexcept;
// The exception class registered for Error (a new reference), or null
// (none, or not an exception class).
PyObject* registered_error_class();

// Strings.
// Text results: a str (UTF-8, surrogateescape). A text too long for a str
// comes back as a `char *` handle that keeps its own copy of the text alive.
PyObject* from_string(const char* s, size_t n);
PyObject* from_string(std::string&& s);
inline PyObject* from_string(const std::string& s)
{
    return from_string(s.data(), s.size());
}

// Python code that runs while a flat function converts its arguments (an
// argument's __index__, a user sequence, a computed `this`, a class's
// __new__) may delete or move an object the function already holds. Every
// flat function runs inside a CallGuard, from its first conversion to its
// result: while any guard of any module of the runtime is open, destruction
// waits, and the outermost guard destroys what waited when it closes,
// whether the call succeeded, failed or never reached the library. The
// guard also turns any native exception into a Python one. A call made by
// Python code inside an overloaded function's conversions looks for its own
// arguments' handles: the guard hides the thread's recognition meanwhile.
//
// The guard counts in the shared record (state.h) through two pointers that
// follow it, read inline: every call opens one.
extern int* running_calls;
extern size_t* waiting_count;
// The outermost call is over and objects wait: destroys them.
void destroy_waiting();
struct CallGuard
{
    CallGuard() : hidden_(running_recognition)
    {
        if (hidden_)
            running_recognition = nullptr;
        ++*running_calls;
    }
    ~CallGuard()
    {
        if (--*running_calls == 0 && *waiting_count > 0)
            destroy_waiting();
        if (hidden_)
            running_recognition = hidden_;
    }
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;

private:
    Recognised* hidden_; // the thread's recognition while the call runs
};
// Destroys now, or when the outermost call ends. Whatever a destruction done
// now lets go waits likewise for its end.
void destroy_or_defer(void* p, void (*destroy)(void*));
// The last native owner of a keeper of Python objects or memory (a numpy
// array a view shows, a caller's buffer export) let it go, on any thread,
// with or without the interpreter lock: `release` runs with the lock once no
// call is running, never inside the library call that dropped it, so Python
// code a release starts (a finalizer, a weakref callback) never runs while
// library code holds references into its own state. Without an interpreter
// (at exit) it runs at once and must touch nothing of Python
// (`Py_IsInitialized`).
void release_kept(void* p, void (*release)(void*));
// A delete_ function's object: destroyed now when the delete call is the
// only one running, else when the outermost call ends.
void destroy_deleted(void* p, void (*destroy)(void*));
// Is p waiting for its destruction (deleted during the running call)?
bool is_deferred(const void* p);

// The memory of the heap objects the module makes and destroys: a block let
// go serves the next object of exactly its size (most results die soon).
// Blocks come from and go back to the global operator new, so an object
// made elsewhere may be destroyed here and the other way round. With the
// interpreter lock held, as every use of the runtime.
void* take_block(std::size_t size);
void give_block(void* p, std::size_t size);

// A text kept for the life of the module: equal texts share one copy, so
// asking again allocates nothing. Never throws (without memory it gives an
// empty text).
const char* intern(const char* s);
const char* intern(const std::string& s);

} // namespace qw

// All state of the runtime in one place: what one module keeps (Runtime) and
// what the modules of the runtime share through the type table (Shared).
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "runtime/pyrt.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace qw {

// Memory the runtime keeps for reuse (spare handles, spare blocks) is out of
// bounds for the address sanitizer while it waits, in the sanitizer build:
// a use of a dead object is reported as it would be without the reuse.
inline void spare_waits([[maybe_unused]] void* p, [[maybe_unused]] std::size_t size)
{
#if defined(__SANITIZE_ADDRESS__)
    ASAN_POISON_MEMORY_REGION(p, size);
#endif
}
inline void spare_serves([[maybe_unused]] void* p, [[maybe_unused]] std::size_t size)
{
#if defined(__SANITIZE_ADDRESS__)
    ASAN_UNPOISON_MEMORY_REGION(p, size);
#endif
}

// Shared by every module of the runtime: the first of them to load publishes
// its record in a capsule of its own beside the type table's; the others use
// it. Plain C layout, grown with malloc, since several modules read and write
// it.
struct Shared
{
    static constexpr uint32_t kMagic = 0x71770005u;
    uint32_t magic;
    // Flat functions running now (nested calls of any module included).
    int calls;
    // Objects deleted while a call ran, destroyed when the outermost ends.
    struct Deferred
    {
        void* p;
        void (*destroy)(void*);
    };
    Deferred* deferred;
    size_t deferred_count, deferred_capacity;
    // The handle type of each module of the runtime: its handles carry the
    // runtime's own fields (other modules' handles have the shared layout only).
    PyTypeObject* handle_types[16];
    int handle_type_count;
    // Each module's lookup of its own flat functions (the family definition
    // behind a function of the module's table, or null).
    const PyMethodDef* (*flat_lookups[16])(PyCFunction);
    int flat_lookup_count;
    // The shared table's capsule, held by the runtime until the interpreter
    // begins to exit and by every owning handle of its modules, so that the
    // class records outlive them: known while it lives when a module of the
    // runtime made it, while it is held when another module made it (then
    // found again for the next holder); its destructor forgets it.
    PyObject* table;
    swig_module_info* table_record; // the module record the capsule carries
    size_t table_holds;
    int table_ours;
    int table_kept; // 1 while the runtime holds it, 2 once it let it go
    // 1 once the capsule was destroyed, 2 once the class records of the
    // runtime's modules were released (when the capsule is gone and nothing
    // of the runtime holds it any more, whichever comes last).
    int table_ended;
    // The destructor of another module's capsule: the runtime's own runs it
    // first, then releases what that one leaves.
    void (*foreign_end)(PyObject*);
    // The module records of the runtime's modules in the table.
    swig_module_info* modules[16];
    int module_count;
};

// One module's runtime state. `clear` is the one place it is released, when
// the module object goes away; the handle types, the empty arguments and the
// shared table stay for the handles that outlive the module (at interpreter
// shutdown). The table's capsule, when this module made it, releases the
// interned "this", the lookup cache and `cvar` when it is destroyed.
struct Runtime
{
    PyObject* this_name = nullptr;       // the interned attribute name "this"
    PyObject* empty_tuple = nullptr;     // the arguments of a registered class's allocation
    PyObject* empty_dict = nullptr;      // its keywords (never written: the allocation only reads them)
    PyObject* module_name = nullptr;     // the module's name, also that of its types (`__module__`)
    PyObject* type_cache = nullptr;      // type_query's answers by name (capsules)
    PyTypeObject* handle_type = nullptr; // this module's handle type
    PyTypeObject* packed_type = nullptr; // this module's packed-data type
    int table_users = 0;                 // interpreters using the table this module made
    PyObject* record = nullptr;          // the capsule of `shared`, held for as long as the module lives
    // Handle types of other modules of the same kind, recognised once (held).
    std::vector<PyTypeObject*> peer_types;
    void* python_dealloc = nullptr; // the deallocation of classes defined in Python
    // Classes defined in Python whose instances were read lately (held, so
    // that no other type takes their address): their instances are walked
    // through `this` without asking whether they are handles.
    PyTypeObject* python_classes[4] = {};
    unsigned next_python_class = 0;
    Shared own_shared = {Shared::kMagic, 0, nullptr, 0, 0, {}, 0, {}, 0, nullptr, nullptr, 0, 0, 0, 0, nullptr, {}, 0};
    Shared* shared = &own_shared;      // own_shared, or the record of the table's creator
    std::vector<const void*> readonly; // objects never written or freed (module constants)
    const void* readonly_low = nullptr;  // the lowest and highest of them: most objects
    const void* readonly_high = nullptr; // lie outside and need no search
    PyObject* cvar = nullptr;          // the module variables object
    PyTypeObject* variables_type = nullptr; // its type
    // The entry in use of the library's error class: library errors are
    // raised as the class registered for it (set on joining the table).
    swig_type_info* error_type = nullptr;
    // numpy's C function table (runtime/numpy_api.h), filled at start-up by
    // import_numpy: the module refuses to load without it.
    void** numpy_api = nullptr;

    // The module record in the shared table, and its entries.
    swig_module_info module = {nullptr, 0, nullptr, nullptr, nullptr, nullptr};
    unsigned carried = 0;                 // the module's rows of the type list (kMain, kGpu), if any
    std::vector<swig_type_info*> types;   // entries in use, sorted by mangled name, null-terminated
    std::vector<swig_type_info*> initial; // the module's own entries, sorted
    std::vector<swig_type_info> listed;   // own entries made from rows no native type is bound to
    std::vector<swig_cast_info*> cast_initial; // per own entry, its casts (itself first, null-ended)
    std::vector<swig_cast_info> cast_records;  // their storage
    std::vector<TypeDecl> type_decls;     // declared at load time (QW_TYPE)
    std::vector<CastDecl> cast_decls;     // declared at load time (QW_SHARED_CAST)
    std::vector<TablePartFn> families;    // the families' parts of the table (QW_FAMILY), unordered

    // Handles whose release waits while another handle is being released
    // (chains and heirs are released iteratively, not recursively).
    std::vector<PyObject*> releasing;
    bool in_release = false;
    // The memory of handles let go lately, for the next handles: most
    // results die soon, and the next result takes their room.
    PyObject* spare_handles[32] = {};
    int spare_count = 0;
    // The memory of heap objects let go lately (take_block, give_block): a
    // list of blocks for each size that is a multiple of 4 up to 256 bytes,
    // the first word of a block linking the next.
    struct SpareBlocks
    {
        static constexpr std::size_t kLargest = 256, kPerSize = 16;
        void* first[kLargest / 4] = {};
        unsigned char count[kLargest / 4] = {};
        SpareBlocks() = default;
        SpareBlocks(const SpareBlocks&) = delete;
        SpareBlocks& operator=(const SpareBlocks&) = delete;
        ~SpareBlocks() { release(); }
        void release();
    } spare_blocks;

    // Texts kept for the module's life (intern).
    std::unordered_set<std::string> texts;
    // The module's table: the families' functions in table order, each in its
    // guarded form, and the place of each.
    std::vector<PyMethodDef> table;
    std::unordered_map<PyCFunction, size_t> slot_of; // function -> its place
    // The native form of each delete_ function of the module.
    std::unordered_map<PyCFunction, NativeDelete> native_deletes;
    // The last answers of delete_verdict, each by the function object it
    // answers for, which it holds (no other object takes its address
    // meanwhile): a dying handle asks for its class's function each time.
    DeleteVerdict delete_verdicts[16] = {};

    void clear();
};

// A class defined in Python (its objects are never handles).
bool defined_in_python(PyTypeObject* t);

// The module's runtime state. It is made before every other static object of
// the module (whose type and family declarations use it already), so that
// reading it needs no test of whether it is made yet, and it is never
// destroyed: the table the modules share links the module's entries and
// casts, with their class records, for as long as its capsule lives, and a
// capsule that another module keeps beyond the interpreter's end (a count it
// never gives back) lives until the process ends. Only the spare blocks,
// which nothing else leads to, go with the process.
union LastingRuntime
{
    Runtime runtime;
    LastingRuntime() : runtime() {}
    ~LastingRuntime() { runtime.spare_blocks.release(); }
};
extern LastingRuntime the_runtime;
inline Runtime& rt()
{
    return the_runtime.runtime;
}

// The shared table's capsule for a new owning handle to hold (a new
// reference), or null; let_table_go releases it when the handle dies.
PyObject* find_table_again();
inline PyObject* hold_table()
{
    Shared& s = *rt().shared;
    PyObject* t = s.table ? s.table : find_table_again();
    if (t) {
        Py_INCREF(t);
        ++s.table_holds;
    }
    return t;
}
// Ownership is taken from a handle of another module of the same kind, alive:
// such a handle holds the table's capsule while it owns when its module made
// the capsule, and lets go of it only if it still owns when it dies, so the
// runtime lets go of it for the handle, once. Whether it must is asked
// before `own` is cleared; letting go comes once the handle is left as it
// stays, since the capsule's end may run Python code.
bool peer_holds_table(SwigPyObject* h);
void let_table_go_for_peer();
// Releases the class records of the runtime's modules once the table ended.
void end_table_records(Shared& s);
inline void let_table_go(PyObject* t)
{
    Shared& s = *rt().shared;
    --s.table_holds;
    if (t && t == s.table) {
        if (s.table_holds == 0 && !s.table_ours)
            s.table = nullptr; // another module's: it may go now
        Py_DECREF(t);
    } else if (s.table_holds == 0) {
        // The capsule went before its holders did (another holder let go of
        // more than it held): nothing of it is left to release, and the
        // records go with the last holder.
        end_table_records(s);
    }
}

// The interned attribute name "this" (made again after the table's capsule
// released it), or null without memory.
PyObject* renew_this_name();
inline PyObject* this_name()
{
    PyObject* name = rt().this_name;
    return name ? name : renew_this_name();
}

// The delete_ function behind a class's __swig_destroy__, from the runtime's
// last answers; find_delete_verdict fills `slot` with a new one.
const DeleteVerdict& find_delete_verdict(PyObject* fn, DeleteVerdict& slot);
inline const DeleteVerdict& delete_verdict(PyObject* fn)
{
    Runtime& r = rt();
    DeleteVerdict& v = r.delete_verdicts[(reinterpret_cast<uintptr_t>(fn) >> 4) % std::size(r.delete_verdicts)];
    return v.fn == fn ? v : find_delete_verdict(fn, v);
}

// The docstring of the handle and packed-data types.
inline constexpr const char* kHandleDoc = "Swig object carries a C/C++ instance pointer";
// Handles and packed data come only from the module: one made from Python
// would carry no object and release what it never took.
PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*);

} // namespace qw

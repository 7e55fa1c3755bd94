// DataStorage, DataAccess and their providers, StreamAccess, RandomAccess.
#include "storage.h"

namespace {

using namespace qw;
using namespace qw::storage;
using quelbo::SeekOrigin;

QW_TYPE(std::shared_ptr<DataStorage>, "_p_std__shared_ptrT_quelbo__DataStorage_t");
QW_TYPE(std::shared_ptr<DataAccess>, "_p_std__shared_ptrT_quelbo__DataAccess_t");
QW_TYPE(std::shared_ptr<StreamAccess>, "_p_std__shared_ptrT_quelbo__StreamAccess_t");
QW_TYPE(std::shared_ptr<RandomAccess>, "_p_std__shared_ptrT_quelbo__RandomAccess_t");
QW_TYPE(quelbo::StreamAccessProvider, "_p_quelbo__StreamAccessProvider");
QW_TYPE(quelbo::RandomAccessProvider, "_p_quelbo__RandomAccessProvider");
QW_SHARED_CAST(DataAccess, StreamAccess);
QW_SHARED_CAST(DataAccess, RandomAccess);

#define QW_STORAGE_TRAITS(Tr, Type, Name)                                                                              \
    struct Tr                                                                                                          \
    {                                                                                                                  \
        using T = Type;                                                                                                \
        static constexpr const char* name = #Name;                                                                     \
        static constexpr const char* native = "quelbo::" #Name;                                                        \
    }
QW_STORAGE_TRAITS(DataStorageTr, std::shared_ptr<DataStorage>, DataStorage);
QW_STORAGE_TRAITS(DataAccessTr, std::shared_ptr<DataAccess>, DataAccess);
QW_STORAGE_TRAITS(StreamAccessTr, std::shared_ptr<StreamAccess>, StreamAccess);
QW_STORAGE_TRAITS(RandomAccessTr, std::shared_ptr<RandomAccess>, RandomAccess);
QW_STORAGE_TRAITS(StreamProviderTr, quelbo::StreamAccessProvider, StreamAccessProvider);
QW_STORAGE_TRAITS(RandomProviderTr, quelbo::RandomAccessProvider, RandomAccessProvider);
#undef QW_STORAGE_TRAITS

// ------------------------------------------------------ storage and access

template <bool Stream>
PyObject* open_access(PyObject*, PyObject* args)
{
    static const char* fn = Stream ? "DataStorage_open_stream_access" : "DataStorage_open_random_access";
    PyObject* a[3];
    std::shared_ptr<DataStorage> storage;
    std::string id;
    quelbo::AccessCapabilities caps;
    if (!unpack(fn, args, 3, 3, a) || !shared_self(a[0], {fn, 1, "quelbo::DataStorage *"}, storage) ||
        !arg(a[1], {fn, 2, kString}, id) || !arg(a[2], {fn, 3, "quelbo::AccessCapabilities"}, caps))
        return nullptr;
    return call([&]() -> PyObject* {
        if constexpr (Stream)
            return shared(storage->openStreamAccess(id, caps));
        else
            return shared(storage->openRandomAccess(id, caps));
    });
}

PyObject* DataStorage_get_source(PyObject*, PyObject* o)
{
    return on_self<DataStorage>(o, {"DataStorage_get_source", 1, "quelbo::DataStorage const *"},
                                [](DataStorage& s) { return to_py(s.source()); });
}

PyObject* DataAccess_get_storage(PyObject*, PyObject* o)
{
    return on_self<DataAccess>(o, {"DataAccess_get_storage", 1, "quelbo::DataAccess const *"},
                               [](DataAccess& d) { return shared(d.storage()); });
}

PyObject* DataAccess_get_resource_id(PyObject*, PyObject* o)
{
    return on_self<DataAccess>(o, {"DataAccess_get_resource_id", 1, "quelbo::DataAccess const *"},
                               [](DataAccess& d) { return to_py(d.resourceId()); });
}

// The providers' kind test and conversion over std::shared_ptr< DataAccess >.
template <class Kind>
struct Provider
{
    static constexpr bool stream = std::is_same<Kind, StreamAccess>::value;
    static const char* name(const char* suffix)
    {
        return joined(stream ? "StreamAccessProvider_" : "RandomAccessProvider_", suffix);
    }
    static bool access(PyObject* o, const char* fn, std::shared_ptr<DataAccess>& out)
    {
        return shared_arg(o, {fn, 1, "std::shared_ptr< quelbo::DataAccess >"}, out);
    }
    static PyObject* test(PyObject*, PyObject* o)
    {
        static const char* fn = name(stream ? "is_stream_access" : "is_random_access");
        std::shared_ptr<DataAccess> p;
        if (!access(o, fn, p))
            return nullptr;
        return call([&] { return to_py(std::dynamic_pointer_cast<Kind>(p) != nullptr); });
    }
    static PyObject* convert(PyObject*, PyObject* o)
    {
        static const char* fn = name(stream ? "to_stream" : "to_random");
        std::shared_ptr<DataAccess> p;
        if (!access(o, fn, p))
            return nullptr;
        return call([&] { return shared(std::dynamic_pointer_cast<Kind>(p)); });
    }
};

// ------------------------------------------------------------------ streams

constexpr const char* kStreamConst = "quelbo::StreamAccess const *";
constexpr const char* kStreamMut = "quelbo::StreamAccess *";

template <const char* Name, bool Const, class F>
PyObject* stream_query(PyObject* o, F body)
{
    static const char* fn = joined("StreamAccess_", Name);
    return on_self<StreamAccess>(o, {fn, 1, Const ? kStreamConst : kStreamMut}, body);
}

constexpr char kCaps[] = "get_capabilities", kGood[] = "get_good", kEof[] = "get_eof", kFail[] = "get_fail",
               kPeek[] = "peek", kFlush[] = "flush", kTell[] = "tell", kToString[] = "to_string", kSize[] = "get_size";

PyObject* StreamAccess_get_capabilities(PyObject*, PyObject* o)
{
    return stream_query<kCaps, true>(o, [](StreamAccess& s) { return value(s.capabilities()); });
}
PyObject* StreamAccess_get_good(PyObject*, PyObject* o)
{
    return stream_query<kGood, true>(o, [](StreamAccess& s) { return to_py(s.good()); });
}
PyObject* StreamAccess_get_eof(PyObject*, PyObject* o)
{
    return stream_query<kEof, true>(o, [](StreamAccess& s) { return to_py(s.eof()); });
}
PyObject* StreamAccess_get_fail(PyObject*, PyObject* o)
{
    return stream_query<kFail, true>(o, [](StreamAccess& s) { return to_py(s.fail()); });
}
PyObject* StreamAccess_peek(PyObject*, PyObject* o)
{
    return stream_query<kPeek, false>(o, [](StreamAccess& s) { return to_py(s.peek()); });
}
PyObject* StreamAccess_flush(PyObject*, PyObject* o)
{
    return stream_query<kFlush, false>(o, [](StreamAccess& s) {
        s.flush();
        return none();
    });
}
PyObject* StreamAccess_tell(PyObject*, PyObject* o)
{
    return stream_query<kTell, false>(o, [](StreamAccess& s) { return to_py(s.tell()); });
}
PyObject* StreamAccess_to_string(PyObject*, PyObject* o)
{
    return stream_query<kToString, true>(o, [](StreamAccess& s) { return to_py(s.toString()); });
}

// <Class>_support(object, flags): every given bit among the capabilities.
template <class X, class E>
PyObject* support(PyObject*, PyObject* args)
{
    constexpr bool stream = std::is_same<X, StreamAccess>::value;
    static const char* fn = stream ? "StreamAccess_support" : "RandomAccess_support";
    PyObject* a[2];
    std::shared_ptr<X> self;
    quelbo::FlagSet<E> flags;
    if (!unpack(fn, args, 2, 2, a) ||
        !shared_self(a[0], {fn, 1, stream ? kStreamMut : "quelbo::RandomAccess *"}, self) ||
        !flags_arg(a[1], {fn, 2, stream ? "quelbo::StreamAccessCapabilitySet" : "quelbo::RandomAccessCapabilitySet"},
                   flags))
        return nullptr;
    return call([&] { return to_py(self->support(flags)); });
}

// Read and write of streams (object, buffer) and stores (object, offset,
// buffer): the buffer's length is the count, so nothing past it is touched.
template <class X, bool Read>
PyObject* transfer(PyObject*, PyObject* args)
{
    constexpr bool store = std::is_same<X, RandomAccess>::value;
    constexpr int n = store ? 3 : 2;
    static const char* fn = store ? (Read ? "RandomAccess___read" : "RandomAccess_write")
                                  : (Read ? "StreamAccess___read" : "StreamAccess_write");
    PyObject* a[n];
    std::shared_ptr<X> self;
    size_t offset = 0;
    Buffer b;
    if (!unpack(fn, args, n, n, a) ||
        !shared_self(a[0], {fn, 1, store ? "quelbo::RandomAccess *" : kStreamMut}, self) ||
        (store && !arg(a[1], {fn, 2, "size_t"}, offset)) ||
        !buffer_arg(a[n - 1], {fn, n, Read ? kDst : kSrc}, Read ? BufferForm::destination : BufferForm::source, b))
        return nullptr;
    return call([&] {
        if constexpr (store)
            return to_py(Read ? self->read(offset, b.size, b.data) : self->write(offset, b.size, b.data));
        else
            return to_py(Read ? self->read(b.size, b.data) : self->write(b.size, b.data));
    });
}

PyObject* StreamAccess_seek(PyObject*, PyObject* args)
{
    static const char* fn = "StreamAccess_seek";
    PyObject* a[3];
    std::shared_ptr<StreamAccess> self;
    int64_t offset;
    SeekOrigin origin;
    if (!unpack(fn, args, 3, 3, a) || !shared_self(a[0], {fn, 1, kStreamMut}, self) ||
        !arg(a[1], {fn, 2, "int64_t"}, offset) || !arg(a[2], {fn, 3, "quelbo::SeekOrigin"}, origin))
        return nullptr;
    return call([&] {
        self->seek(offset, origin);
        return none();
    });
}

// ------------------------------------------------------------------- stores

constexpr const char* kStoreConst = "quelbo::RandomAccess const *";
constexpr const char* kStoreMut = "quelbo::RandomAccess *";

PyObject* RandomAccess_get_capabilities(PyObject*, PyObject* o)
{
    return on_self<RandomAccess>(o, {"RandomAccess_get_capabilities", 1, kStoreConst},
                                 [](RandomAccess& s) { return value(s.capabilities()); });
}
PyObject* RandomAccess_get_size(PyObject*, PyObject* o)
{
    return on_self<RandomAccess>(o, {"RandomAccess_get_size", 1, kStoreConst},
                                 [](RandomAccess& s) { return to_py(s.size()); });
}
PyObject* RandomAccess_to_string(PyObject*, PyObject* o)
{
    return on_self<RandomAccess>(o, {"RandomAccess_to_string", 1, kStoreConst},
                                 [](RandomAccess& s) { return to_py(s.toString()); });
}

PyObject* RandomAccess_resize(PyObject*, PyObject* args)
{
    static const char* fn = "RandomAccess_resize";
    PyObject* a[2];
    std::shared_ptr<RandomAccess> self;
    size_t size;
    if (!unpack(fn, args, 2, 2, a) || !shared_self(a[0], {fn, 1, kStoreMut}, self) ||
        !arg(a[1], {fn, 2, "size_t"}, size))
        return nullptr;
    return call([&] {
        self->resize(size);
        return none();
    });
}

// -------------------------------------------------------------------- table

void add_storage_access(Methods& m)
{
    m.add<&open_access<true>>(
        "DataStorage_open_stream_access", METH_VARARGS,
        "Opens a stream-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<&open_access<false>>(
        "DataStorage_open_random_access", METH_VARARGS,
        "Opens an array-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<&DataStorage_get_source>("DataStorage_get_source", METH_O,
                                   "Describes the storage's source of data, usually as a URI.");
    ClassOps<DataStorageTr>::add(m);
    m.add<&DataAccess_get_storage>("DataAccess_get_storage", METH_O);
    m.add<&DataAccess_get_resource_id>("DataAccess_get_resource_id", METH_O);
    ClassOps<DataAccessTr>::add(m);
    m.add<&Provider<StreamAccess>::test>("StreamAccessProvider_is_stream_access", METH_O);
    m.add<&Provider<StreamAccess>::convert>("StreamAccessProvider_to_stream", METH_O);
    ClassOps<StreamProviderTr>::add<&ClassOps<StreamProviderTr>::new_default>(m);
    m.add<&Provider<RandomAccess>::test>("RandomAccessProvider_is_random_access", METH_O);
    m.add<&Provider<RandomAccess>::convert>("RandomAccessProvider_to_random", METH_O);
    ClassOps<RandomProviderTr>::add<&ClassOps<RandomProviderTr>::new_default>(m);
}

void add_stream_access(Methods& m)
{
    m.add<&StreamAccess_get_capabilities>("StreamAccess_get_capabilities", METH_O);
    m.add<&support<StreamAccess, quelbo::StreamAccessCapability>>("StreamAccess_support", METH_VARARGS);
    m.add<&StreamAccess_get_good>("StreamAccess_get_good", METH_O,
                                  "True when neither end of file nor failure is raised: the stream can be read.");
    m.add<&StreamAccess_get_eof>("StreamAccess_get_eof", METH_O, "True when no more byte can be read.");
    m.add<&StreamAccess_get_fail>("StreamAccess_get_fail", METH_O);
    m.add<&transfer<StreamAccess, true>>(
        "StreamAccess___read", METH_VARARGS,
        "Reads bytes at the cursor into the buffer; returns the count read. The cursor moves by that count.\n"
        "Needs the READ capability.");
    m.add<&StreamAccess_peek>("StreamAccess_peek", METH_O,
                              "The byte at the cursor, without moving it. Needs the READ capability.\n"
                              ":raises: Error at the end of the stream.");
    m.add<&transfer<StreamAccess, false>>(
        "StreamAccess_write", METH_VARARGS,
        "Writes the buffer's bytes at the cursor; returns the count written. The cursor moves by that count; "
        "a count below the buffer's length is not an error.\nNeeds the WRITE capability.");
    m.add<&StreamAccess_flush>(
        "StreamAccess_flush", METH_O,
        "Makes sure that everything written has reached the endpoint.\nNeeds the WRITE capability.");
    m.add<&StreamAccess_tell>("StreamAccess_tell", METH_O, "The position of the cursor.\nNeeds the SEEK capability.");
    m.add<&StreamAccess_seek>(
        "StreamAccess_seek", METH_VARARGS,
        "Moves the cursor to the origin's position plus the offset: a positive offset moves forward, a negative "
        "one backward, whatever the origin.\nNeeds the SEEK capability.\n:raises: Error for a position before "
        "the beginning; the cursor then keeps its position.");
    m.add<&StreamAccess_to_string>("StreamAccess_to_string", METH_O);
    ClassOps<StreamAccessTr>::add(m);
}

void add_random_access(Methods& m)
{
    m.add<&RandomAccess_get_capabilities>("RandomAccess_get_capabilities", METH_O);
    m.add<&support<RandomAccess, quelbo::RandomAccessCapability>>("RandomAccess_support", METH_VARARGS);
    m.add<&RandomAccess_get_size>("RandomAccess_get_size", METH_O, "The number of bytes of the resource.");
    m.add<&transfer<RandomAccess, true>>(
        "RandomAccess___read", METH_VARARGS,
        "Reads the store's bytes from the offset into the buffer; returns the count read.\n"
        "Needs the READ capability.\n:raises: Error if the offset is out of range.");
    m.add<&transfer<RandomAccess, false>>(
        "RandomAccess_write", METH_VARARGS,
        "Writes the buffer into the store from the offset; returns the count written.\n"
        "Needs the WRITE capability.\n:raises: Error if the offset is out of range.");
    m.add<&RandomAccess_resize>("RandomAccess_resize", METH_VARARGS,
                                "Changes the number of bytes of the resource; the content is undefined afterwards.\n"
                                "Needs the RESIZE capability.");
    m.add<&RandomAccess_to_string>("RandomAccess_to_string", METH_O);
    ClassOps<RandomAccessTr>::add(m);
}

QW_FAMILY(order::storage_access, add_storage_access);
QW_FAMILY(order::stream_access, add_stream_access);
QW_FAMILY(order::random_access, add_random_access);

} // namespace

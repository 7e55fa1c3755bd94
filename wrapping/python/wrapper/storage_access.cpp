// DataStorage, DataAccess and their providers, StreamAccess, RandomAccess.
#include "storage.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::storage;
using quelbo::SeekOrigin;

QW_TYPE(std::shared_ptr<DataStorage>);
QW_TYPE(std::shared_ptr<DataAccess>);
QW_TYPE(std::shared_ptr<StreamAccess>);
QW_TYPE(std::shared_ptr<RandomAccess>);
QW_TYPE(quelbo::StreamAccessProvider);
QW_TYPE(quelbo::RandomAccessProvider);
QW_SHARED_CAST(DataAccess, StreamAccess);
QW_SHARED_CAST(DataAccess, RandomAccess);

using DataStorageTr = SharedTraits<DataStorage>;
using DataAccessTr = SharedTraits<DataAccess>;
using StreamAccessTr = SharedTraits<StreamAccess>;
using RandomAccessTr = SharedTraits<RandomAccess>;
using StreamProviderTr = Traits<quelbo::StreamAccessProvider>;
using RandomProviderTr = Traits<quelbo::RandomAccessProvider>;

// ------------------------------------------------------ storage and access

constexpr auto kStorageMut = &DataStorageTr::mut_type, kStorageConst = &DataStorageTr::self_type,
               kAccessConst = &DataAccessTr::self_type, kAccessPtr = named<std::shared_ptr<DataAccess>>;
constexpr auto kStreamConst = &StreamAccessTr::self_type, kStreamMut = &StreamAccessTr::mut_type;
constexpr auto kStreamCaps = named<CapabilitySet<quelbo::StreamAccessCapability>>;
constexpr auto kStoreConst = &RandomAccessTr::self_type, kStoreMut = &RandomAccessTr::mut_type;
constexpr auto kStoreCaps = named<CapabilitySet<quelbo::RandomAccessCapability>>;

using Storage = SharedSelf<DataStorage, kStorageMut>;
using Access = SharedArg<DataAccess, kAccessPtr>;
using AccessConst = SharedSelf<DataAccess, kAccessConst>;
using Resource = Arg<std::string, text::string_ref>;
using Size = Arg<size_t, text::size>;

// ------------------------------------------------------------------ streams

using StreamConst = SharedSelf<StreamAccess, kStreamConst>;
using Stream = SharedSelf<StreamAccess, kStreamMut>;

// Read and write of streams (object, buffer) and stores (object, offset,
// buffer): the buffer's length is the count, so nothing past it is touched;
// the result is the count moved.
template <const char* Name, bool Read, auto Op>
using stream_transfer = BlockTransfer<Name, Op, Stream, Block<Read>>;

// ------------------------------------------------------------------- stores

using StoreConst = SharedSelf<RandomAccess, kStoreConst>;
using Store = SharedSelf<RandomAccess, kStoreMut>;

template <const char* Name, bool Read, auto Op>
using store_transfer = BlockTransfer<Name, Op, Store, Block<Read>, Size>;

// -------------------------------------------------------------------- table

void add_storage_access(Methods& m)
{
    m.add<Fn<QW_NAME("DataStorage_open_stream_access"), &DataStorage::openStreamAccess, Storage, Resource,
             Arg<quelbo::AccessCapabilities>>>(
        "Opens a stream-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<Fn<QW_NAME("DataStorage_open_random_access"), &DataStorage::openRandomAccess, Storage, Resource,
             Arg<quelbo::AccessCapabilities>>>(
        "Opens an array-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<Getter<DataStorageTr, QW_NAME("get_source"), SharedSelf<DataStorage, kStorageConst>, &DataStorage::source>>(
        "Describes the storage's source of data, usually as a URI.");
    add_class<DataStorageTr>(m);
    m.add<Getter<DataAccessTr, QW_NAME("get_storage"), AccessConst, &DataAccess::storage>>();
    m.add<Getter<DataAccessTr, QW_NAME("get_resource_id"), AccessConst, &DataAccess::resourceId>>();
    add_class<DataAccessTr>(m);
    m.add<
        Fn<QW_NAME("StreamAccessProvider_is_stream_access"), &quelbo::StreamAccessProvider::isStreamAccess, Access>>();
    m.add<Fn<QW_NAME("StreamAccessProvider_to_stream"), &quelbo::StreamAccessProvider::toStream, Access>>();
    add_class<StreamProviderTr, NewDefault>(m);
    m.add<
        Fn<QW_NAME("RandomAccessProvider_is_random_access"), &quelbo::RandomAccessProvider::isRandomAccess, Access>>();
    m.add<Fn<QW_NAME("RandomAccessProvider_to_random"), &quelbo::RandomAccessProvider::toRandom, Access>>();
    add_class<RandomProviderTr, NewDefault>(m);
}

void add_stream_access(Methods& m)
{
    m.add<Getter<StreamAccessTr, QW_NAME("get_capabilities"), StreamConst, &StreamAccess::capabilities>>();
    m.add<Fn<QW_NAME("StreamAccess_support"), &StreamAccess::support, Stream,
             FlagsArg<quelbo::StreamAccessCapability, kStreamCaps>>>();
    m.add<Getter<StreamAccessTr, QW_NAME("get_good"), StreamConst, &StreamAccess::good>>(
        "True when neither end of file nor failure is raised: the stream can be read.");
    m.add<Getter<StreamAccessTr, QW_NAME("get_eof"), StreamConst, &StreamAccess::eof>>(
        "True when no more byte can be read.");
    m.add<Getter<StreamAccessTr, QW_NAME("get_fail"), StreamConst, &StreamAccess::fail>>();
    m.add<stream_transfer<QW_NAME("StreamAccess___read"), true, &StreamAccess::read>>(
        "Reads bytes at the cursor into the buffer; returns the count read. The cursor moves by that count.\n"
        "Needs the READ capability.");
    m.add<Getter<StreamAccessTr, QW_NAME("peek"), Stream, &StreamAccess::peek>>(
        "The byte at the cursor, without moving it. Needs the READ capability.\n"
        ":raises: Error at the end of the stream.");
    m.add<stream_transfer<QW_NAME("StreamAccess_write"), false, &StreamAccess::write>>(
        "Writes the buffer's bytes at the cursor; returns the count written. The cursor moves by that count; "
        "a count below the buffer's length is not an error.\nNeeds the WRITE capability.");
    m.add<Getter<StreamAccessTr, QW_NAME("flush"), Stream, &StreamAccess::flush>>(
        "Makes sure that everything written has reached the endpoint.\nNeeds the WRITE capability.");
    m.add<Getter<StreamAccessTr, QW_NAME("tell"), Stream, &StreamAccess::tell>>(
        "The position of the cursor.\nNeeds the SEEK capability.");
    m.add<Fn<QW_NAME("StreamAccess_seek"), &StreamAccess::seek, Stream, Arg<int64_t, text::i64>,
             Arg<quelbo::SeekOrigin>>>(
        "Moves the cursor to the origin's position plus the offset: a positive offset moves forward, a negative "
        "one backward, whatever the origin.\nNeeds the SEEK capability.\n:raises: Error for a position before "
        "the beginning; the cursor then keeps its position.");
    m.add<Getter<StreamAccessTr, QW_NAME("to_string"), StreamConst, &StreamAccess::toString>>();
    add_class<StreamAccessTr>(m);
}

void add_random_access(Methods& m)
{
    m.add<Getter<RandomAccessTr, QW_NAME("get_capabilities"), StoreConst, &RandomAccess::capabilities>>();
    m.add<Fn<QW_NAME("RandomAccess_support"), &RandomAccess::support, Store,
             FlagsArg<quelbo::RandomAccessCapability, kStoreCaps>>>();
    m.add<Getter<RandomAccessTr, QW_NAME("get_size"), StoreConst, &RandomAccess::size>>(
        "The number of bytes of the resource.");
    m.add<store_transfer<QW_NAME("RandomAccess___read"), true, &RandomAccess::read>>(
        "Reads the store's bytes from the offset into the buffer; returns the count read.\n"
        "Needs the READ capability.\n:raises: Error if the offset is out of range.");
    m.add<store_transfer<QW_NAME("RandomAccess_write"), false, &RandomAccess::write>>(
        "Writes the buffer into the store from the offset; returns the count written.\n"
        "Needs the WRITE capability.\n:raises: Error if the offset is out of range.");
    m.add<Fn<QW_NAME("RandomAccess_resize"), &RandomAccess::resize, Store, Size>>(
        "Changes the number of bytes of the resource; the content is undefined afterwards.\n"
        "Needs the RESIZE capability.");
    m.add<Getter<RandomAccessTr, QW_NAME("to_string"), StoreConst, &RandomAccess::toString>>();
    add_class<RandomAccessTr>(m);
}

// The library's report (it has logged the error too): the library error as
// an exception that nothing can catch, handed to sys.unraisablehook, from
// whichever thread lets the stream go. An exception being raised meanwhile
// is kept. A delivery that a signal's handler ended (Interrupted) reports
// the handler's exception first: the stream's bytes went with it.
void unraisable(quelbo::Error const& error)
{
    if (!Py_IsInitialized())
        return;
    PyGILState_STATE const state = PyGILState_Ensure();
    pin_blocks_in_use(); // the hook is Python code, maybe inside a call
    if (dynamic_cast<quelbo::Interrupted const*>(&error) && PyErr_Occurred())
        PyErr_WriteUnraisable(nullptr);
    PyObject *type, *value, *trace;
    PyErr_Fetch(&type, &value, &trace);
    raise_library_error(error);
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, trace);
    PyGILState_Release(state);
}

// A signal interrupted a file's system call that waits: Python's signal
// handlers run now, as Python's own files run them (on the main thread,
// which holds the interpreter lock through every call). One that raised
// ends the call, its exception pending for the call to end with (the
// runtime keeps it). A thread of the library's own, or a call made while an
// exception is already being raised (a stream let go meanwhile), waits on:
// the handlers run once Python code runs again.
bool run_signal_handlers()
{
    if (!Py_IsInitialized() || !PyGILState_GetThisThreadState() || PyErr_Occurred())
        return true;
    pin_blocks_in_use(); // the handlers may touch the caller's buffer
    return PyErr_CheckSignals() == 0;
}

QW_FAMILY(add_storage_access);
QW_FAMILY(add_stream_access);
QW_FAMILY(add_random_access);

} // namespace

void qw::storage::connect_file_streams()
{
    quelbo::setUndeliveredHandler(&unraisable);
    quelbo::setInterruptHandler(&run_signal_handlers);
}

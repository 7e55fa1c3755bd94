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
constexpr auto kAccessCaps = named<quelbo::AccessCapabilities>;
constexpr auto kStreamConst = &StreamAccessTr::self_type, kStreamMut = &StreamAccessTr::mut_type;
constexpr auto kStreamCaps = named<CapabilitySet<quelbo::StreamAccessCapability>>;
constexpr char kOffset[] = "int64_t";
constexpr auto kOrigin = named<quelbo::SeekOrigin>;
constexpr auto kStoreConst = &RandomAccessTr::self_type, kStoreMut = &RandomAccessTr::mut_type;
constexpr auto kStoreCaps = named<CapabilitySet<quelbo::RandomAccessCapability>>;

constexpr char kOpenStream[] = "DataStorage_open_stream_access", kOpenRandom[] = "DataStorage_open_random_access",
               kSource[] = "get_source", kStorage[] = "get_storage", kResourceId[] = "get_resource_id",
               kIsStream[] = "StreamAccessProvider_is_stream_access", kToStream[] = "StreamAccessProvider_to_stream",
               kIsRandom[] = "RandomAccessProvider_is_random_access", kToRandom[] = "RandomAccessProvider_to_random";

using Storage = SharedSelf<DataStorage, kStorageMut>;
using Access = SharedArg<DataAccess, kAccessPtr>;
using AccessConst = SharedSelf<DataAccess, kAccessConst>;
using Resource = Arg<std::string, text::string_ref>;
using Size = Arg<size_t, text::size>;

// ------------------------------------------------------------------ streams

using StreamConst = SharedSelf<StreamAccess, kStreamConst>;
using Stream = SharedSelf<StreamAccess, kStreamMut>;

constexpr char kCaps[] = "get_capabilities", kGood[] = "get_good", kEof[] = "get_eof", kFail[] = "get_fail",
               kPeek[] = "peek", kFlush[] = "flush", kTell[] = "tell", kToString[] = "to_string", kSize[] = "get_size";
constexpr char kStreamSupport[] = "StreamAccess_support", kStoreSupport[] = "RandomAccess_support",
               kSeek[] = "StreamAccess_seek", kResize[] = "RandomAccess_resize";

// Read and write of streams (object, buffer) and stores (object, offset,
// buffer): the buffer's length is the count, so nothing past it is touched;
// the result is the count moved.
template <const char* Name, bool Read, auto Op>
using stream_transfer = BlockTransfer<Name, Op, Stream, Block<Read>>;
constexpr char kStreamRead[] = "StreamAccess___read", kStreamWrite[] = "StreamAccess_write";

// ------------------------------------------------------------------- stores

using StoreConst = SharedSelf<RandomAccess, kStoreConst>;
using Store = SharedSelf<RandomAccess, kStoreMut>;

template <const char* Name, bool Read, auto Op>
using store_transfer = BlockTransfer<Name, Op, Store, Block<Read>, Size>;
constexpr char kStoreRead[] = "RandomAccess___read", kStoreWrite[] = "RandomAccess_write";

// -------------------------------------------------------------------- table

void add_storage_access(Methods& m)
{
    m.add<Fn<kOpenStream, &DataStorage::openStreamAccess, Storage, Resource, Arg<quelbo::AccessCapabilities, kAccessCaps>>>(
        "Opens a stream-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<Fn<kOpenRandom, &DataStorage::openRandomAccess, Storage, Resource, Arg<quelbo::AccessCapabilities, kAccessCaps>>>(
        "Opens an array-like accessor to the named resource with the requested capabilities.\n"
        ":raises: Error if the storage cannot reach the resource or the resource does not support the "
        "requested capabilities.");
    m.add<Getter<DataStorageTr, kSource, SharedSelf<DataStorage, kStorageConst>, &DataStorage::source>>(
        "Describes the storage's source of data, usually as a URI.");
    add_class<DataStorageTr>(m);
    m.add<Getter<DataAccessTr, kStorage, AccessConst, &DataAccess::storage>>();
    m.add<Getter<DataAccessTr, kResourceId, AccessConst, &DataAccess::resourceId>>();
    add_class<DataAccessTr>(m);
    m.add<Fn<kIsStream, &quelbo::StreamAccessProvider::isStreamAccess, Access>>();
    m.add<Fn<kToStream, &quelbo::StreamAccessProvider::toStream, Access>>();
    add_class<StreamProviderTr, NewDefault>(m);
    m.add<Fn<kIsRandom, &quelbo::RandomAccessProvider::isRandomAccess, Access>>();
    m.add<Fn<kToRandom, &quelbo::RandomAccessProvider::toRandom, Access>>();
    add_class<RandomProviderTr, NewDefault>(m);
}

void add_stream_access(Methods& m)
{
    m.add<Getter<StreamAccessTr, kCaps, StreamConst, &StreamAccess::capabilities>>();
    m.add<Fn<kStreamSupport, &StreamAccess::support, Stream, FlagsArg<quelbo::StreamAccessCapability, kStreamCaps>>>();
    m.add<Getter<StreamAccessTr, kGood, StreamConst, &StreamAccess::good>>(
        "True when neither end of file nor failure is raised: the stream can be read.");
    m.add<Getter<StreamAccessTr, kEof, StreamConst, &StreamAccess::eof>>("True when no more byte can be read.");
    m.add<Getter<StreamAccessTr, kFail, StreamConst, &StreamAccess::fail>>();
    m.add<stream_transfer<kStreamRead, true, &StreamAccess::read>>(
        "Reads bytes at the cursor into the buffer; returns the count read. The cursor moves by that count.\n"
        "Needs the READ capability.");
    m.add<Getter<StreamAccessTr, kPeek, Stream, &StreamAccess::peek>>(
        "The byte at the cursor, without moving it. Needs the READ capability.\n"
        ":raises: Error at the end of the stream.");
    m.add<stream_transfer<kStreamWrite, false, &StreamAccess::write>>(
        "Writes the buffer's bytes at the cursor; returns the count written. The cursor moves by that count; "
        "a count below the buffer's length is not an error.\nNeeds the WRITE capability.");
    m.add<Getter<StreamAccessTr, kFlush, Stream, &StreamAccess::flush>>(
        "Makes sure that everything written has reached the endpoint.\nNeeds the WRITE capability.");
    m.add<Getter<StreamAccessTr, kTell, Stream, &StreamAccess::tell>>(
        "The position of the cursor.\nNeeds the SEEK capability.");
    m.add<Fn<kSeek, &StreamAccess::seek, Stream, Arg<int64_t, kOffset>, Arg<quelbo::SeekOrigin, kOrigin>>>(
        "Moves the cursor to the origin's position plus the offset: a positive offset moves forward, a negative "
        "one backward, whatever the origin.\nNeeds the SEEK capability.\n:raises: Error for a position before "
        "the beginning; the cursor then keeps its position.");
    m.add<Getter<StreamAccessTr, kToString, StreamConst, &StreamAccess::toString>>();
    add_class<StreamAccessTr>(m);
}

void add_random_access(Methods& m)
{
    m.add<Getter<RandomAccessTr, kCaps, StoreConst, &RandomAccess::capabilities>>();
    m.add<Fn<kStoreSupport, &RandomAccess::support, Store, FlagsArg<quelbo::RandomAccessCapability, kStoreCaps>>>();
    m.add<Getter<RandomAccessTr, kSize, StoreConst, &RandomAccess::size>>("The number of bytes of the resource.");
    m.add<store_transfer<kStoreRead, true, &RandomAccess::read>>(
        "Reads the store's bytes from the offset into the buffer; returns the count read.\n"
        "Needs the READ capability.\n:raises: Error if the offset is out of range.");
    m.add<store_transfer<kStoreWrite, false, &RandomAccess::write>>(
        "Writes the buffer into the store from the offset; returns the count written.\n"
        "Needs the WRITE capability.\n:raises: Error if the offset is out of range.");
    m.add<Fn<kResize, &RandomAccess::resize, Store, Size>>(
        "Changes the number of bytes of the resource; the content is undefined afterwards.\n"
        "Needs the RESIZE capability.");
    m.add<Getter<RandomAccessTr, kToString, StoreConst, &RandomAccess::toString>>();
    add_class<RandomAccessTr>(m);
}

QW_FAMILY(add_storage_access);
QW_FAMILY(add_stream_access);
QW_FAMILY(add_random_access);

} // namespace

// StreamAccessFactory, RandomAccessFactory and HTTPHeaders.
#include "extensions.h"
#include "properties.h"
#include "quelbo/uri.h"
#include "storage.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using namespace qw::storage;
using quelbo::RandomAccessFactory;
using quelbo::StreamAccessFactory;
using quelbo::Uri;
using Entry = quelbo::HTTPHeaders::Entry;

QW_TYPE(StreamAccessFactory);
QW_TYPE(RandomAccessFactory);
QW_TYPE(HTTPHeaders);
QW_TYPE(Entry);

using StreamFactoryTr = Traits<StreamAccessFactory>;
using RandomFactoryTr = Traits<RandomAccessFactory>;
using HeadersTr = Traits<HTTPHeaders>;

constexpr auto kDString = named<const std::string&>, kDUri = named<const quelbo::Uri&>,
               kDStream = named<std::shared_ptr<quelbo::StreamAccess>>,
               kDStore = named<std::shared_ptr<quelbo::RandomAccess>>, kDHeaders = named<const HTTPHeaders&>;

// The one-argument factories' argument kinds.
using TextArg = Arg<std::string, kDString>;
using UriArg = Ref<Uri, kDUri>;
using StreamArg = SharedArg<StreamAccess, kDStream>;
using StoreArg = SharedArg<RandomAccess, kDStore>;
using HeadersArg = Ref<HTTPHeaders, kDHeaders>;
using Size = Arg<size_t, text::size>;

struct stream_allocate_1 : Candidate<Params<Size>>
{
    static constexpr const char* member = member_of<StreamAccessFactory, QW_NAME("allocate")>;
    static constexpr auto call = [](size_t n) { return StreamAccessFactory::allocate(n); };
};
struct stream_allocate_0 : Candidate<Params<>>
{
    static constexpr const char* member = member_of<StreamAccessFactory, QW_NAME("allocate")>;
    static constexpr auto call = [] { return StreamAccessFactory::allocate(); };
};
struct stream_allocate : DeclareOverloads<stream_allocate, stream_allocate_1, stream_allocate_0>
{
    static constexpr const char* name = "StreamAccessFactory_allocate";
    static constexpr const char* doc = "A stream in local memory with the given number of bytes reserved.";
};

struct random_allocate : Declare<random_allocate, Params<Size>>
{
    static constexpr const char* name = "RandomAccessFactory_allocate";
    static constexpr const char* doc = "A store in memory of the given size.";
    static constexpr auto call = [](size_t n) { return RandomAccessFactory::allocate(n); };
};

struct extract_region_2 : Candidate<Params<StoreArg, Size>>
{
    static constexpr const char* member = member_of<RandomAccessFactory, QW_NAME("extractRegion")>;
    static constexpr auto call = [](std::shared_ptr<RandomAccess> src, size_t offset) {
        return RandomAccessFactory::extractRegion(src, offset);
    };
};
struct extract_region_3 : Candidate<Params<StoreArg, Size, Size>>
{
    static constexpr const char* member = member_of<RandomAccessFactory, QW_NAME("extractRegion")>;
    static constexpr auto call = [](std::shared_ptr<RandomAccess> src, size_t offset, size_t size) {
        return RandomAccessFactory::extractRegion(src, offset, size);
    };
};
struct extract_region : DeclareOverloads<extract_region, extract_region_2, extract_region_3>
{
    static constexpr const char* name = "RandomAccessFactory_extract_region";
    static constexpr const char* doc =
        "A store over the part of the source store that begins at the offset (of the given size in the "
        "three-argument form).\n:raises: InvalidArgument if the source is empty, Error if the offset or the "
        "range lies outside the source.";
};

// The store over the caller's memory keeps the memory exported until its
// last native user is gone.
struct from_buffer : Declare<from_buffer, Params<Kept<&kMemory>>>
{
    static constexpr const char* name = "RandomAccessFactory___from_buffer";
    static constexpr const char* doc = "A store over the caller's writable buffer, without a copy.";
    static constexpr auto call = [](quelbo::BorrowedMemory&& memory) {
        return RandomAccessFactory::fromBuffer(std::move(memory));
    };
};

// -------------------------------------------------------------- HTTPHeaders

// Entry handles have no class: their copy is freed with the handle by a
// destructor attached to the entry type itself.
using EntryTr = Traits<Entry>;

PyObject* entry_result(Entry e)
{
    static PyMethodDef def{Delete<EntryTr>::name, &Delete<EntryTr>::run, METH_O, nullptr};
    if (!attach_destroy(type_of<Entry>(), &def))
        return nullptr;
    return owned(new Entry(std::move(e)));
}

constexpr auto kHeadersConst = named<const quelbo::HTTPHeaders*>;

constexpr auto kEntryList = named<std::initializer_list<Entry>>;
constexpr auto kEntries = named<const Entry*>;

template <class P, int Decl>
using HeadersMade = Constructor<&HeadersTr::constructor, P, Decl>;

struct headers_empty : HeadersMade<Params<>, 0>
{
    static constexpr auto call = [] { return constructed(new HTTPHeaders()); };
};
// an entry list never comes from Python
using headers_list = HeadersMade<Params<Moved<kEntryList>>, 2>;
struct headers_entries : HeadersMade<Params<Ptr<Entry, kEntries>, WithId<Size>>, 1>
{
    static constexpr auto call = [](const Entry* entry, const WithId<Size>::value& count) -> PyObject* {
        // an entry handle holds exactly one entry: nothing is read past it
        if (count.v > (entry ? 1u : 0u)) {
            fail_arg(ERR_VALUE, count.id, ": count exceeds the entries given");
            return nullptr;
        }
        return constructed(new HTTPHeaders(entry, count.v));
    };
};
struct new_headers : DeclareOverloads<new_headers, headers_empty, CopyConstructor<HeadersTr, 3>,
                                      MoveConstructor<HeadersTr, 4>, ListedOnly<headers_list>, headers_entries>
{
    static constexpr const char* name = "new_HTTPHeaders";
};

constexpr auto kHeadersMut = named<HTTPHeaders*>, kEntryRef = named<const Entry&>;
using HeadersConst = Self<HTTPHeaders, kHeadersConst>;
using Headers = SelfMut<HTTPHeaders, kHeadersMut>;

struct headers_at : Declare<headers_at, Params<HeadersConst, Size>>
{
    static constexpr const char* name = "HTTPHeaders_at";
    static constexpr auto call = [](HTTPHeaders* h, size_t index) { return entry_result(h->at(index)); };
};

struct add_entry : Candidate<Params<Headers, Ref<Entry, kEntryRef>>>
{
    static constexpr const char* member = member_of<HTTPHeaders, QW_NAME("add")>;
    static constexpr auto call = [](HTTPHeaders* h, const Entry& e) { h->add(e); };
};
struct add_pair : Candidate<Params<Headers, TextArg, TextArg>>
{
    static constexpr const char* member = member_of<HTTPHeaders, QW_NAME("add")>;
    static constexpr auto call = [](HTTPHeaders* h, const std::string& name, const std::string& value) {
        h->add(name, value);
    };
};
struct headers_add : DeclareOverloads<headers_add, add_entry, add_pair>
{
    static constexpr const char* name = "HTTPHeaders_add";
};

// -------------------------------------------------------------------- table

void add_stream_factory(Methods& m)
{
    m.add<stream_allocate>();
    m.add<Fn<QW_NAME("StreamAccessFactory_copy_in_memory"), &StreamAccessFactory::copyInMemory, StreamArg>>(
        "Loads a readable stream into local memory.");
    m.add<Fn<QW_NAME("StreamAccessFactory_open_file_read"), &StreamAccessFactory::openFileRead, TextArg>>(
        "A stream that reads the file at the path; it may also offer SEEK.");
    m.add<Fn<QW_NAME("StreamAccessFactory_open_file_write"), &StreamAccessFactory::openFileWrite, TextArg>>(
        "A stream that writes the file at the path; it may also offer SEEK.");
    m.add<Fn<QW_NAME("StreamAccessFactory_open_file"), &StreamAccessFactory::openFile, TextArg>>(
        "A stream that reads and writes the file at the path; it may also offer SEEK.");
    m.add<Fn<QW_NAME("StreamAccessFactory_open_uri_write"), &StreamAccessFactory::openURIWrite, UriArg>>(
        "A stream that writes to the URI, by its scheme: \"file\" as open_file_write, \"http\" or \"https\" "
        "as open_http_write with the method POST and no headers.");
    m.add<Fn<QW_NAME("StreamAccessFactory_open_http_write"), &StreamAccessFactory::openHTTPWrite, UriArg, TextArg,
             HeadersArg>>(
        "A stream whose written bytes are sent to the HTTP or HTTPS URI with the given request method and "
        "headers; the server must accept chunked transfer encoding.");
    m.add<Fn<QW_NAME("StreamAccessFactory_from_random_access"), &StreamAccessFactory::fromRandomAccess, StoreArg>>(
        "A stream that reads and writes through the given store, with the READ, WRITE and SEEK capabilities.\n"
        ":raises: InvalidArgument if the store is empty, Error if it can neither read nor write.");
    add_class<StreamFactoryTr>(m);
}

void add_random_factory(Methods& m)
{
    m.add<random_allocate>();
    m.add<Fn<QW_NAME("RandomAccessFactory_copy_in_memory"), &RandomAccessFactory::copyInMemory, StoreArg>>(
        "The given store loaded into memory; a store already in memory is returned itself, without a copy.\n"
        ":raises: InvalidArgument if the store is empty.");
    m.add<Fn<QW_NAME("RandomAccessFactory_map_file"), &RandomAccessFactory::mapFile, TextArg>>(
        "A store over the file mapped into memory, with the READ and WRITE capabilities.\n"
        ":raises: Error if the file does not exist.");
    m.add<Fn<QW_NAME("RandomAccessFactory_open_uri_read"), &RandomAccessFactory::openURIRead, UriArg>>(
        "A read-only store over the URI, by its scheme: \"file\" reads the file through a stream opened as "
        "open_file_read does, \"http\" or \"https\" as open_http_read with the method GET and no headers.");
    m.add<Fn<QW_NAME("RandomAccessFactory_open_http_read"), &RandomAccessFactory::openHTTPRead, UriArg, TextArg,
             HeadersArg>>(
        "A read-only store over the HTTP or HTTPS resource, read with the given method and headers; the server "
        "must support HTTP range requests.");
    m.add<extract_region>();
    m.add<Fn<QW_NAME("RandomAccessFactory_from_stream"), &RandomAccessFactory::fromStream, StreamArg>>(
        "A store that reads through the given stream.\n:raises: InvalidArgument if the stream is empty.");
    m.add<from_buffer>();
    add_class<RandomFactoryTr>(m);
}

void add_http_headers(Methods& m)
{
    m.add<new_headers>();
    m.add<Getter<HeadersTr, QW_NAME("size"), HeadersConst, &HTTPHeaders::size>>();
    m.add<headers_at>();
    m.add<headers_add>();
    m.add<Delete<HeadersTr>>();
    add_hooks<HTTPHeaders>(m, "HTTPHeaders");
}

QW_FAMILY(add_stream_factory);
QW_FAMILY(add_random_factory);
QW_FAMILY(add_http_headers);

} // namespace

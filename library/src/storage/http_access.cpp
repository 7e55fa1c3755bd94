// HTTP(S) stores read by range requests, upload streams in chunked encoding,
// and the HTTP site storage. The client, TLS and URL handling are libcurl's.
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "storage/access_detail.h"
#include "quelbo/access_factory.h"

namespace quelbo {

using RCap = RandomAccessCapability;
using SCap = StreamAccessCapability;
using detail::Place;

namespace {

constexpr std::size_t kWindow = 256 * 1024; // the least a small read fetches
constexpr long kConnectSeconds = 10;        // connecting may take this long
constexpr long kStallSeconds = 30;          // a transfer below 1 byte/s this long fails
constexpr long kMaxRedirects = 5;

void globalInit()
{
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    if (!done)
        throw Error("HTTP: the client library could not be initialised");
}

// Request texts travel into the request as they are: CR, LF and NUL would
// let a caller inject headers or requests.
void checkText(std::string const& text, char const* what)
{
    if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw InvalidArgument(std::string("HTTP: ") + what + " holds CR, LF or NUL");
}

void checkRequest(Uri const& uri, std::string const& method, HTTPHeaders const& headers)
{
    std::string scheme = uri.scheme();
    if (scheme != "http" && scheme != "https")
        throw InvalidArgument("HTTP: unsupported scheme '" + scheme + "'");
    checkText(method, "the method");
    if (method.empty() || method.find_first_of(" \t") != std::string::npos)
        throw InvalidArgument("HTTP: invalid method '" + method + "'");
    for (std::size_t i = 0; i < headers.size(); ++i) {
        HTTPHeaders::Entry e = headers.at(i);
        checkText(e.name, "a header name");
        checkText(e.value, "a header value");
        if (e.name.empty() || e.name.find_first_of(": \t") != std::string::npos)
            throw InvalidArgument("HTTP: invalid header name '" + e.name + "'");
    }
}

// Owns a header list.
struct HeaderList
{
    curl_slist* list = nullptr;
    HeaderList() = default;
    HeaderList(HeaderList const&) = delete;
    HeaderList& operator=(HeaderList const&) = delete;
    ~HeaderList() { curl_slist_free_all(list); }
    void add(std::string const& line)
    {
        curl_slist* l = curl_slist_append(list, line.c_str());
        if (!l)
            throw std::bad_alloc();
        list = l;
    }
};

// One easy handle with the settings every request shares.
struct Handle
{
    CURL* curl = nullptr;
    HeaderList headers;
    std::string url;
    std::string shown; // the URL in messages: without its user information
    std::string method;
    char error[CURL_ERROR_SIZE] = {0};

    Handle(Uri const& uri, std::string const& method_, HTTPHeaders const& requestHeaders, bool follow)
        : url(uri.toString()), shown(url), method(method_)
    {
        if (std::string user = uri.userInfo(); !user.empty()) {
            std::size_t at = shown.find(user + "@");
            if (at != std::string::npos)
                shown.erase(at, user.size() + 1);
        }
        checkRequest(uri, method, requestHeaders);
        globalInit();
        curl = curl_easy_init();
        if (!curl)
            throw std::bad_alloc();
        for (std::size_t i = 0; i < requestHeaders.size(); ++i) {
            HTTPHeaders::Entry e = requestHeaders.at(i);
            headers.add(e.name + ": " + e.value);
        }
        set(CURLOPT_URL, url.c_str());
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        set(CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
        set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        set(CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_ERRORBUFFER, error);
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (char const* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
            set(CURLOPT_CAINFO, ca);
    }
    Handle(Handle const&) = delete;
    Handle& operator=(Handle const&) = delete;
    ~Handle() { curl_easy_cleanup(curl); }

    template <class V>
    void set(CURLoption option, V value)
    {
        if (curl_easy_setopt(curl, option, value) != CURLE_OK)
            throw Error("HTTP: the client refused an option for '" + shown + "'");
    }

    long status() const
    {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    // Error naming the request, its status and the client's reason.
    [[noreturn]] void fail(std::string const& what, CURLcode res = CURLE_OK) const
    {
        std::string text =
            "HTTP " + method + " '" + shown + "': " + what + " (status " + std::to_string(status()) + ")";
        if (res != CURLE_OK)
            text += ": " + std::string(error[0] ? error : curl_easy_strerror(res));
        throw Error(text);
    }
};

bool startsWithNoCase(char const* data, std::size_t n, char const* prefix)
{
    std::size_t k = std::strlen(prefix);
    if (n < k)
        return false;
    for (std::size_t i = 0; i < k; ++i)
        if (std::tolower(static_cast<unsigned char>(data[i])) != prefix[i])
            return false;
    return true;
}

// "bytes first-last/total" ("*" for an unknown total, "*/total" for an
// unsatisfiable range).
struct ContentRange
{
    bool present = false, satisfied = false, totalKnown = false;
    uint64_t first = 0, last = 0, total = 0;

    static bool number(std::string const& s, std::size_t& i, uint64_t& out)
    {
        std::size_t start = i;
        uint64_t v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            unsigned d = unsigned(s[i] - '0');
            if (v > (UINT64_MAX - d) / 10)
                return false;
            v = v * 10 + d;
            ++i;
        }
        out = v;
        return i > start;
    }
    void parse(std::string s)
    {
        *this = ContentRange();
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
            s.pop_back();
        std::size_t i = 0;
        while (i < s.size() && s[i] == ' ')
            ++i;
        if (s.compare(i, 6, "bytes ") != 0)
            return;
        i += 6;
        if (i < s.size() && s[i] == '*') {
            ++i;
        } else {
            if (!number(s, i, first) || i >= s.size() || s[i] != '-')
                return;
            ++i;
            if (!number(s, i, last) || last < first)
                return;
            satisfied = true;
        }
        if (i >= s.size() || s[i] != '/')
            return;
        ++i;
        if (i < s.size() && s[i] == '*' && i + 1 == s.size())
            totalKnown = false;
        else if (!number(s, i, total) || i != s.size())
            return;
        else
            totalKnown = true;
        present = true;
    }
};

// Response bytes land in the caller's memory, never past its end.
struct Sink
{
    uint8_t* dst = nullptr;
    std::size_t capacity = 0, received = 0;
    bool overflow = false;
    std::string contentRange;

    static size_t body(char* data, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<Sink*>(self);
        std::size_t bytes = one * n;
        if (bytes > s->capacity - s->received) {
            s->overflow = true;
            return 0; // ends the transfer
        }
        std::memcpy(s->dst + s->received, data, bytes);
        s->received += bytes;
        return bytes;
    }
    static size_t header(char* data, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<Sink*>(self);
        std::size_t bytes = one * n;
        if (startsWithNoCase(data, bytes, "http/"))
            s->contentRange.clear(); // a new response (after a redirect)
        else if (startsWithNoCase(data, bytes, "content-range:"))
            s->contentRange.assign(data + 14, bytes - 14);
        return bytes;
    }
};

class HttpStore : public RandomAccess
{
public:
    HttpStore(Uri const& uri, std::string const& method, HTTPHeaders const& headers, Place place)
        : RandomAccess(std::move(place.storage), std::move(place.id)), m_http(uri, method, headers, true)
    {
        if (method == "HEAD")
            m_http.set(CURLOPT_NOBODY, 1L); // no body follows: do not wait for one
        else if (method != "GET")
            m_http.set(CURLOPT_CUSTOMREQUEST, method.c_str());
        m_http.set(CURLOPT_HTTPHEADER, m_http.headers.list);
        m_http.set(CURLOPT_WRITEFUNCTION, &Sink::body);
        m_http.set(CURLOPT_HEADERFUNCTION, &Sink::header);
        // the first window also tells the size
        m_cache.resize(kWindow);
        m_cacheLength = fetch(0, kWindow, m_cache.data(), true);
    }

    RandomAccessCapabilitySet capabilities() const override { return RandomAccessCapabilitySet(RCap::READ); }
    std::size_t size() const override { return m_size; }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        std::size_t n = detail::clampedCount(offset, size, m_size);
        std::size_t done = 0;
        while (done < n) {
            std::size_t pos = offset + done, left = n - done;
            if (pos >= m_cacheOffset && pos < m_cacheOffset + m_cacheLength) {
                std::size_t k = std::min(left, m_cacheOffset + m_cacheLength - pos);
                std::memcpy(dst + done, m_cache.data() + (pos - m_cacheOffset), k);
                done += k;
            } else if (left >= kWindow) {
                done += fetch(pos, left, dst + done, false);
            } else {
                m_cacheLength = 0;
                m_cacheOffset = pos;
                m_cacheLength = fetch(pos, std::min(kWindow, m_size - pos), m_cache.data(), false);
            }
        }
        return n;
    }
    std::size_t write(std::size_t, std::size_t, const uint8_t*) override
    {
        detail::missingCapability("HTTP store", "write");
    }
    void resize(std::size_t) override { detail::missingCapability("HTTP store", "resize"); }

private:
    // Fetches [offset, offset + length) into dst, exactly: a probe (the first
    // request) accepts the range clamped to the resource and learns its size.
    std::size_t fetch(std::size_t offset, std::size_t length, uint8_t* dst, bool probe)
    {
        Sink sink;
        sink.dst = dst;
        sink.capacity = length;
        std::string range = std::to_string(offset) + "-" + std::to_string(offset + length - 1);
        m_http.set(CURLOPT_RANGE, range.c_str());
        m_http.set(CURLOPT_WRITEDATA, &sink);
        m_http.set(CURLOPT_HEADERDATA, &sink);
        CURLcode res = curl_easy_perform(m_http.curl);
        long status = m_http.status();
        ContentRange cr;
        cr.parse(sink.contentRange);
        if (probe && status == 416 && cr.present && !cr.satisfied && cr.totalKnown && cr.total == 0) {
            m_size = 0; // an empty resource
            return 0;
        }
        if (res != CURLE_OK && status == 0)
            m_http.fail("no answer", res);
        if (status < 200 || status > 299)
            m_http.fail("error status", res);
        if (status != 206)
            m_http.fail("the server does not answer range requests");
        if (sink.overflow)
            m_http.fail("more bytes than asked for");
        if (res != CURLE_OK)
            m_http.fail("transfer failed", res);
        if (!cr.present || !cr.satisfied || cr.first != offset)
            m_http.fail("Content-Range '" + sink.contentRange + "' does not match the range " + range);
        if (probe) {
            if (!cr.totalKnown || cr.total == 0 || cr.last >= cr.total ||
                cr.last != std::min<uint64_t>(offset + length - 1, cr.total - 1) || cr.total > SIZE_MAX)
                m_http.fail("Content-Range '" + sink.contentRange + "' does not match the range " + range);
            m_size = std::size_t(cr.total);
        } else if (cr.last != offset + length - 1 || (cr.totalKnown && cr.total != m_size)) {
            m_http.fail("Content-Range '" + sink.contentRange + "' does not match the range " + range);
        }
        std::size_t expected = std::size_t(cr.last - cr.first + 1);
        if (sink.received != expected)
            m_http.fail("body shorter than announced");
        return expected;
    }

    Handle m_http;
    std::size_t m_size = 0;
    detail::Bytes m_cache;
    std::size_t m_cacheOffset = 0, m_cacheLength = 0;
};

// An upload: written bytes go out as chunks of one request, driven without
// threads through a multi handle; flush ends the request.
class HttpUpload : public StreamAccess
{
public:
    HttpUpload(Uri const& uri, std::string const& method, HTTPHeaders const& headers, Place place)
        : StreamAccess(std::move(place.storage), std::move(place.id)), m_http(uri, method, headers, false)
    {
        m_http.headers.add("Transfer-Encoding: chunked");
        m_http.headers.add("Expect:");
        m_http.set(CURLOPT_UPLOAD, 1L);
        if (method != "PUT")
            m_http.set(CURLOPT_CUSTOMREQUEST, method.c_str());
        m_http.set(CURLOPT_HTTPHEADER, m_http.headers.list);
        m_http.set(CURLOPT_READFUNCTION, &HttpUpload::supply);
        m_http.set(CURLOPT_READDATA, this);
        m_http.set(CURLOPT_WRITEFUNCTION, &HttpUpload::discard);
        m_multi = curl_multi_init();
        if (!m_multi)
            throw std::bad_alloc();
        if (curl_multi_add_handle(m_multi, m_http.curl) != CURLM_OK) {
            curl_multi_cleanup(m_multi);
            throw Error("HTTP: cannot start the upload to '" + m_http.shown + "'");
        }
        try {
            // connect and send the request head now: a refused connection fails here
            pump([this] { return m_waiting; });
            if (m_done)
                finished("the server ended the upload before it began");
        } catch (...) {
            close();
            throw;
        }
    }
    ~HttpUpload() override
    {
        if (!m_done && !m_failed) {
            try {
                end(); // what was written is still sent
            } catch (...) {
            }
        }
        close();
    }

    StreamAccessCapabilitySet capabilities() const override { return StreamAccessCapabilitySet(SCap::WRITE); }
    bool good() const override { return !m_failed; }
    bool eof() const override { return false; }
    bool fail() const override { return m_failed; }
    std::size_t read(std::size_t, uint8_t*) override { detail::missingCapability("HTTP upload", "read"); }
    uint8_t peek() override { detail::missingCapability("HTTP upload", "peek"); }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        if (m_done || m_failed)
            throw Error("HTTP " + m_http.method + " '" + m_http.shown + "': the upload is already finished");
        if (!size)
            return 0;
        m_pending.assign(src, src + size);
        m_sent = 0;
        m_waiting = false;
        curl_easy_pause(m_http.curl, CURLPAUSE_CONT);
        pump([this] { return m_waiting && m_sent == m_pending.size(); });
        if (m_done)
            finished("the server ended the upload early");
        m_written += size;
        return size;
    }
    void flush() override
    {
        if (m_done || m_failed)
            throw Error("HTTP " + m_http.method + " '" + m_http.shown + "': the upload is already finished");
        end();
    }
    std::size_t tell() override { detail::missingCapability("HTTP upload", "tell"); }
    void seek(int64_t, SeekOrigin) override { detail::missingCapability("HTTP upload", "seek"); }

private:
    static size_t supply(char* buffer, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<HttpUpload*>(self);
        std::size_t room = one * n, left = s->m_pending.size() - s->m_sent;
        if (left) {
            std::size_t k = std::min(room, left);
            std::memcpy(buffer, s->m_pending.data() + s->m_sent, k);
            s->m_sent += k;
            return k;
        }
        if (s->m_ending)
            return 0; // the last chunk
        s->m_waiting = true;
        return CURL_READFUNC_PAUSE;
    }
    static size_t discard(char*, size_t one, size_t n, void*) { return one * n; }

    template <class Until>
    void pump(Until until)
    {
        while (!m_done) {
            int running = 0;
            if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
                m_failed = true;
                throw Error("HTTP " + m_http.method + " '" + m_http.shown + "': the transfer broke down");
            }
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    m_done = true;
                    m_result = msg->data.result;
                }
            }
            if (m_done || until())
                return;
            curl_multi_poll(m_multi, nullptr, 0, 100, nullptr);
        }
    }

    void end()
    {
        m_ending = true;
        m_pending.clear();
        m_sent = 0;
        curl_easy_pause(m_http.curl, CURLPAUSE_CONT);
        pump([] { return false; });
        finished("the upload did not complete");
    }

    // The request is over: only a complete transfer with a 2xx answer succeeds.
    void finished(char const* early)
    {
        long status = m_http.status();
        if (m_result != CURLE_OK || status < 200 || status > 299) {
            m_failed = true;
            m_http.fail(status == 0 ? "no answer" : status >= 200 && status <= 299 ? early : "error status", m_result);
        }
        if (!m_ending) {
            m_failed = true;
            m_http.fail(early);
        }
    }

    void close()
    {
        if (m_multi) {
            curl_multi_remove_handle(m_multi, m_http.curl);
            curl_multi_cleanup(m_multi);
            m_multi = nullptr;
        }
    }

    Handle m_http;
    CURLM* m_multi = nullptr;
    std::vector<uint8_t> m_pending;
    std::size_t m_sent = 0, m_written = 0;
    bool m_waiting = false, m_ending = false, m_done = false, m_failed = false;
    CURLcode m_result = CURLE_OK;
};

// ------------------------------------------------------------- site storage

class HttpSite : public DataStorage, public std::enable_shared_from_this<HttpSite>
{
public:
    explicit HttpSite(Uri const& uri) : m_source(uri.scheme() + "://" + uri.authority() + "/") {}
    std::shared_ptr<StreamAccess> openStreamAccess(std::string const& id, AccessCapabilities caps) override
    {
        Uri uri = resource(id);
        switch (caps) {
        case AccessCapabilities::READ_ONLY:
            return StreamAccessFactory::fromRandomAccess(
                std::make_shared<HttpStore>(uri, "GET", HTTPHeaders(), Place{shared_from_this(), id}));
        case AccessCapabilities::WRITE_ONLY:
            return std::make_shared<HttpUpload>(uri, "POST", HTTPHeaders(), Place{shared_from_this(), id});
        case AccessCapabilities::READ_WRITE:
            throw Error("openStreamAccess: an HTTP resource cannot be read and written");
        }
        throw InvalidArgument("openStreamAccess: unknown capabilities " + std::to_string(int32_t(caps)));
    }
    std::shared_ptr<RandomAccess> openRandomAccess(std::string const& id, AccessCapabilities caps) override
    {
        Uri uri = resource(id);
        switch (caps) {
        case AccessCapabilities::READ_ONLY:
            return std::make_shared<HttpStore>(uri, "GET", HTTPHeaders(), Place{shared_from_this(), id});
        case AccessCapabilities::WRITE_ONLY:
        case AccessCapabilities::READ_WRITE:
            throw Error("openRandomAccess: an HTTP resource can only be read");
        }
        throw InvalidArgument("openRandomAccess: unknown capabilities " + std::to_string(int32_t(caps)));
    }
    std::string const& source() const override { return m_source; }

private:
    Uri resource(std::string const& id) const
    {
        checkText(id, "the resource id");
        return Uri(m_source + (!id.empty() && id[0] == '/' ? id.substr(1) : id));
    }
    std::string m_source;
};

Place siteOf(Uri const& uri)
{
    std::string id = uri.pathAndQuery();
    return {std::make_shared<HttpSite>(uri), id.empty() ? "/" : id};
}

} // namespace

std::shared_ptr<RandomAccess> RandomAccessFactory::openHTTPRead(Uri const& uri, std::string const& method,
                                                                HTTPHeaders const& headers)
{
    return std::make_shared<HttpStore>(uri, method, headers, siteOf(uri));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openHTTPWrite(Uri const& uri, std::string const& method,
                                                                 HTTPHeaders const& headers)
{
    return std::make_shared<HttpUpload>(uri, method, headers, siteOf(uri));
}

} // namespace quelbo

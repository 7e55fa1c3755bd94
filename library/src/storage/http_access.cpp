// HTTP(S) uploads in chunked encoding and the HTTP site storage; the stores
// read by range requests are in http_store.cpp.
#include <algorithm>
#include <cstring>

#include "quelbo/access_factory.h"
#include "storage/access_detail.h"
#include "storage/http_client.h"
#include "storage/lineage.h"
#include "storage/shown_uri.h"

namespace quelbo {

using SCap = StreamAccessCapability;
using detail::Place;

namespace {

// An upload: written bytes go out as chunks of one request, which pauses
// between writes; flush ends the request.
class HttpUpload : public StreamAccess, public detail::WritesThrough
{
public:
    HttpUpload(Uri const& uri, std::string const& method, HTTPHeaders const& headers, Place place)
        : StreamAccess(std::move(place.storage), std::move(place.id)), m_http(uri, method, headers, false)
    {
        m_http.setHeader("Transfer-Encoding", "chunked"); // the body's framing, whatever the caller's say
        m_http.addHeader("Expect:");
        m_http.useHeaders();
        m_http.set(CURLOPT_UPLOAD, 1L);
        if (method != "PUT")
            m_http.set(CURLOPT_CUSTOMREQUEST, method.c_str());
        m_http.set(CURLOPT_READFUNCTION, &HttpUpload::supply);
        m_http.set(CURLOPT_READDATA, this);
        m_http.set(CURLOPT_WRITEFUNCTION, &HttpUpload::answerBody);
        m_http.set(CURLOPT_WRITEDATA, this);
        begin();
    }
    ~HttpUpload() override
    {
        if (!m_http.foreign() && !m_http.done() && !m_failed) {
            try {
                end(); // what was written is still sent
            } catch (Error const& e) {
                detail::reportUndelivered(e); // the server refused it: say so
            } catch (...) {
            }
        }
    }

    StreamAccessCapabilitySet capabilities() const override { return StreamAccessCapabilitySet(SCap::WRITE); }
    bool good() const override { return !m_failed; }
    bool eof() const override { return false; }
    bool fail() const override { return m_failed; }
    std::size_t read(std::size_t, uint8_t*) override { detail::missingCapability("HTTP upload", "read"); }
    uint8_t peek() override { detail::missingCapability("HTTP upload", "peek"); }
    std::size_t write(std::size_t size, const uint8_t* src) override
    {
        own();
        needOpen();
        if (!size)
            return 0;
        struct Lent
        {
            HttpUpload& u;
            ~Lent() { u.m_pending = nullptr, u.m_pendingSize = u.m_sent = 0; } // the caller's bytes, no longer
        } lent{*this};
        m_pending = src; // handed to the client as it asks, never copied whole
        m_pendingSize = size;
        m_sent = 0;
        m_waiting = false;
        m_http.watch();
        m_http.resume();
        drive([this] { return m_waiting && m_sent == m_pendingSize; });
        if (m_http.done())
            finished("the server ended the upload early");
        return size;
    }
    void flush() override
    {
        own();
        needOpen();
        end();
    }
    std::size_t tell() override { detail::missingCapability("HTTP upload", "tell"); }
    void seek(int64_t, SeekOrigin) override { detail::missingCapability("HTTP upload", "seek"); }

private:
    // The body's bytes as the client sends them, then its end. An answer
    // that came before the end (the server did not wait for the whole body)
    // stops the request: the upload failed, whatever the answer says. (The
    // client also stops sending by itself, without asking here, when such an
    // answer came whole and the server closes the connection.)
    static size_t supply(char* buffer, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<HttpUpload*>(self);
        if (s->m_http.status() >= 200) {
            s->m_early = true;
            return CURL_READFUNC_ABORT;
        }
        std::size_t room = one * n, left = s->m_pendingSize - s->m_sent;
        if (left) {
            std::size_t k = std::min(room, left);
            std::memcpy(buffer, s->m_pending + s->m_sent, k);
            s->m_sent += k;
            return k;
        }
        if (s->m_ending) {
            s->m_ended = true;
            return 0; // the last chunk
        }
        s->m_waiting = true;
        return CURL_READFUNC_PAUSE;
    }
    // The answer's body: an upload needs only the answer's status, so the
    // request ends at the body's first bytes rather than wait for a body that
    // may never end.
    static size_t answerBody(char*, size_t, size_t, void* self)
    {
        static_cast<HttpUpload*>(self)->m_answered = true;
        return 0;
    }

    // Starts the request: connects and sends its head, so that a refused
    // connection fails here.
    void begin()
    {
        m_http.watch();
        if (!m_http.begin())
            throw Error("HTTP: cannot start the upload to '" + m_http.shown() + "'");
        m_waiting = false;
        drive([this] { return m_waiting; });
        if (m_http.done())
            finished("the server ended the upload before it began");
    }

    // Used in a fork's child while the parent's request is open: the request
    // is the parent's, and what this process writes goes in a request of its
    // own. An upload finished before the fork stays finished.
    void own()
    {
        if (m_http.moved() && !m_ending && !m_failed)
            begin();
    }

    void needOpen() const
    {
        if (m_http.done() || m_failed || m_ending)
            throw Error("HTTP " + m_http.method() + " '" + m_http.shown() + "': the upload is already finished");
    }

    template <class Until>
    void drive(Until until)
    {
        try {
            m_http.pump(until);
        } catch (...) {
            m_failed = true;
            throw;
        }
    }

    void end()
    {
        m_ending = true;
        m_http.watch();
        m_http.resume();
        drive([] { return false; });
        finished("the upload did not complete");
    }

    // The request is over: only a complete transfer whose 2xx answer came
    // after the whole body went out succeeds. `early` says what happened
    // when it ended before the upload did.
    void finished(char const* early)
    {
        long status = m_http.status();
        CURLcode res = m_http.result();
        if (m_answered && res == CURLE_WRITE_ERROR)
            res = CURLE_OK; // ended at the answer's body, which is not read
        bool const cut = m_early || !m_ended; // answered before the body ended
        if (res != CURLE_OK || status < 200 || status > 299 || cut)
            m_failed = true;
        m_http.checkWatchdog();
        m_http.checkAnswer(res, early);
        if (cut)
            m_http.fail(m_early || m_ending ? "the server ended the upload early" : early);
        if (res != CURLE_OK)
            m_http.fail(early, res);
    }

    detail::HttpClient m_http;
    uint8_t const* m_pending = nullptr; // what the write being made hands over
    std::size_t m_pendingSize = 0, m_sent = 0;
    bool m_waiting = false, m_ending = false, m_failed = false;
    bool m_ended = false; // the body's end went out
    bool m_early = false; // an answer came before it
    bool m_answered = false; // the answer's body began
};

// ------------------------------------------------------------- site storage

class HttpSite : public DataStorage, public detail::SecretSource, public std::enable_shared_from_this<HttpSite>
{
public:
    explicit HttpSite(Uri const& uri)
        : m_base(uri.scheme() + "://" + uri.authority() + "/"), m_source(detail::shownUri(m_base))
    {
    }
    std::shared_ptr<StreamAccess> openStreamAccess(std::string const& id, AccessCapabilities caps) override
    {
        Uri uri = resource(id);
        switch (caps) {
        case AccessCapabilities::READ_ONLY:
            return StreamAccessFactory::fromRandomAccess(
                detail::openHttpStore(uri, "GET", HTTPHeaders(), Place{shared_from_this(), id}));
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
            return detail::openHttpStore(uri, "GET", HTTPHeaders(), Place{shared_from_this(), id});
        case AccessCapabilities::WRITE_ONLY:
        case AccessCapabilities::READ_WRITE:
            throw Error("openRandomAccess: an HTTP resource can only be read");
        }
        throw InvalidArgument("openRandomAccess: unknown capabilities " + std::to_string(int32_t(caps)));
    }
    std::string const& source() const override { return m_source; }
    std::string const& fullSource() const override { return m_base; }

private:
    Uri resource(std::string const& id) const
    {
        detail::checkRequestText(id, "the resource id");
        return Uri(m_base + (!id.empty() && id[0] == '/' ? id.substr(1) : id));
    }
    std::string m_base;   // with the credentials the requests carry
    std::string m_source; // as shown
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
    return detail::openHttpStore(uri, method, headers, siteOf(uri));
}

std::shared_ptr<StreamAccess> StreamAccessFactory::openHTTPWrite(Uri const& uri, std::string const& method,
                                                                 HTTPHeaders const& headers)
{
    return std::make_shared<HttpUpload>(uri, method, headers, siteOf(uri));
}

} // namespace quelbo

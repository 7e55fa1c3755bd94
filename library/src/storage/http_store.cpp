// HTTP(S) stores: a resource read by range requests over one kept connection.
//
// A response is received as the caller reads it: its bytes go straight into
// the caller's buffer, the rest of a received piece waits in a small cache, and
// the response stays open for the next read. A reader that goes on where it
// stopped gets requests that grow ahead of it; any other read asks for
// exactly its bytes.
//
// The store reads one version of the resource: the first answer's validator
// (its ETag, else its Last-Modified) goes with every later request as a
// condition, and an answer saying that the resource changed (the condition
// failed, another size or validator) is refused before any of its bytes
// reach the caller.
#include <algorithm>
#include <cstring>

#include "quelbo/access_factory.h"
#include "storage/access_detail.h"
#include "storage/http_client.h"

namespace quelbo {

using RCap = RandomAccessCapability;
using detail::ContentRange;
using detail::shownText;

namespace {

constexpr std::size_t kProbe = 64 * 1024; // the first request, which also tells the size
// A sequential reader's request covers four times what it read in a row, within these
constexpr std::size_t kLeastAhead = 128 * 1024, kMostAhead = std::size_t(64) << 20;
// Received beyond the reader before the transfer pauses
constexpr std::size_t kCacheBytes = detail::HttpClient::kReceiveBuffer;
// An unread rest of a response up to this size is drained to keep the connection
constexpr std::size_t kDrainBytes = std::size_t(1) << 20;

class HttpStore : public RandomAccess
{
public:
    HttpStore(Uri const& uri, std::string const& method, HTTPHeaders const& headers, detail::Place place)
        : RandomAccess(std::move(place.storage), std::move(place.id)), m_http(uri, method, headers, true)
    {
        if (method == "HEAD")
            m_http.set(CURLOPT_NOBODY, 1L); // no body follows: do not wait for one
        else if (method != "GET")
            m_http.set(CURLOPT_CUSTOMREQUEST, method.c_str());
        m_http.setHeader("Accept-Encoding", "identity"); // ranges of the stored bytes, never a compressed whole
        m_http.useHeaders();
        m_http.set(CURLOPT_WRITEFUNCTION, &HttpStore::body);
        m_http.set(CURLOPT_WRITEDATA, this);
        m_probe = true;
        m_http.watch();
        start(0, kProbe);
        m_keepAll = true; // the first window stays in the cache
        m_http.pump([] { return false; });
        m_keepAll = false;
        finish();
        m_probe = false;
        keepVersion();
    }

    RandomAccessCapabilitySet capabilities() const override { return RandomAccessCapabilitySet(RCap::READ); }
    std::size_t size() const override { return m_size; }
    std::size_t read(std::size_t offset, std::size_t size, uint8_t* dst) override
    {
        std::size_t n = detail::clampedCount(offset, size, m_size);
        if (m_http.moved())
            m_open = m_held = false; // in a fork's child: the open response is the parent's
        m_fresh = false; // an open response was asked for by an earlier call
        m_http.watch();
        bool sequential = offset == m_next;
        m_run = sequential ? std::min(m_run + n, kMostAhead) : n;
        m_next = offset + n;
        std::size_t done = 0;
        while (done < n) {
            std::size_t pos = offset + done, left = n - done;
            if (pos >= m_cacheOffset && pos - m_cacheOffset < m_cacheLength) {
                std::size_t k = std::min(left, m_cacheLength - (pos - m_cacheOffset));
                std::memcpy(dst + done, m_cache.data() + (pos - m_cacheOffset), k);
                done += k;
                continue;
            }
            if (!m_open || pos != m_at) {
                std::size_t ahead = sequential ? std::clamp(4 * m_run, kLeastAhead, kMostAhead) : 0;
                start(pos, std::min(m_size - pos, std::max(left, ahead)));
            }
            done += receive(dst + done, left);
        }
        return n;
    }
    std::size_t write(std::size_t, std::size_t, const uint8_t*) override
    {
        detail::missingCapability("HTTP store", "write");
    }
    void resize(std::size_t) override { detail::missingCapability("HTTP store", "resize"); }

private:
    // Asks for [offset, offset + length), leaving any open response first.
    void start(std::size_t offset, std::size_t length)
    {
        leave();
        m_first = m_at = offset;
        m_end = offset + length;
        m_asked = std::to_string(offset) + "-" + std::to_string(m_end - 1);
        m_checked = m_refused = m_overflow = m_held = m_drop = false;
        m_fresh = true;
        m_http.set(CURLOPT_RANGE, m_asked.c_str());
        if (!m_http.begin())
            m_http.fail("the request could not start");
        m_open = true;
    }

    // Receives up to `want` bytes at m_at into dst; a response that ends is
    // checked, and a wrong one throws.
    std::size_t receive(uint8_t* dst, std::size_t want)
    {
        std::size_t k = std::min(want, m_end - m_at);
        struct Target
        {
            HttpStore& s;
            ~Target() { s.m_dst = nullptr, s.m_dstLeft = 0; } // nothing lands there after the call
        } target{*this};
        m_dst = dst;
        m_dstLeft = k;
        goOn();
        m_http.pump([this] { return m_dstLeft == 0; });
        std::size_t got = k - m_dstLeft;
        m_dst = nullptr;
        m_dstLeft = 0;
        if (m_at == m_end && !m_http.done()) {
            goOn(); // all arrived: more is an error, the end of the response is near
            m_http.pump([] { return false; });
        }
        if (m_http.done() && !m_fresh && m_at != m_end && m_http.result() != CURLE_OK && !m_http.stopped() &&
            !m_refused && !m_overflow) {
            // the server ended a response kept since an earlier call (an idle
            // connection closed): the rest is asked for again
            start(m_at, m_end - m_at);
            return got;
        }
        if (m_http.done())
            finish();
        return got;
    }

    void goOn()
    {
        if (m_held) {
            m_held = false;
            m_http.resume();
        }
    }

    // An open response no read wants any more: a short rest is drained to
    // keep the connection, a long one drops it.
    void leave()
    {
        if (!m_open)
            return;
        m_open = false;
        m_drop = true;
        goOn();
        if (m_end - m_at <= kDrainBytes && !m_http.done())
            m_http.pump([] { return false; });
        m_drop = false;
        m_http.cancel();
        m_http.checkWatchdog(); // the peer stalls: asking again would wait as long once more
    }

    // The first answer's version: its validator goes with every later request
    // (a strong ETag as If-Match, else a Last-Modified date as
    // If-Unmodified-Since, either as If-Range), and every later answer is
    // held against it.
    void keepVersion()
    {
        m_etag = m_http.etag();
        m_lastModified = m_http.lastModified();
        bool const strong = !m_etag.empty() && m_etag.compare(0, 2, "W/") != 0;
        std::string const& sent = strong ? m_etag : m_lastModified;
        if (sent.empty() || sent.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return;
        m_http.setHeader(strong ? "If-Match" : "If-Unmodified-Since", sent);
        m_http.setHeader("If-Range", sent);
        m_http.useHeaders();
        m_conditional = true;
    }

    // What a later answer says changed in the resource since the first one;
    // empty when nothing did.
    std::string changed() const
    {
        long const status = m_http.status();
        ContentRange cr;
        cr.parse(m_http.contentRange());
        if ((status == 206 || status == 416) && cr.present && cr.totalKnown && cr.total != m_size)
            return "size " + std::to_string(m_size) + ", now " + std::to_string(cr.total);
        bool const byTag = !m_etag.empty();
        std::string const& was = byTag ? m_etag : m_lastModified;
        if (was.empty() || (status != 200 && status != 206 && status != 412))
            return {};
        std::string const name = byTag ? "ETag " : "Last-Modified ";
        std::string const& now = byTag ? m_http.etag() : m_http.lastModified();
        if (!now.empty() && now != was)
            return name + shownText(was) + ", now " + shownText(now);
        if (m_conditional && (status == 412 || (status == 200 && now.empty())))
            return name + shownText(was) + " no longer matches"; // the condition failed
        return {};
    }

    // The response is over: it must be the range asked for, whole.
    void finish()
    {
        m_open = false;
        long status = m_http.status();
        CURLcode res = m_http.result();
        ContentRange cr;
        cr.parse(m_http.contentRange());
        if (m_probe && emptyAnswer(status, res, cr)) {
            m_size = m_end = m_at = 0; // an empty resource
            return;
        }
        m_http.checkWatchdog();
        if (!m_probe) {
            std::string const why = changed();
            if (!why.empty())
                m_http.raise("the resource changed since the store opened it (" + why + ")");
        }
        m_http.checkAnswer(res);
        if (status != 206)
            m_http.fail("the server does not answer range requests");
        if (m_overflow)
            m_http.fail("more bytes than asked for");
        if (res != CURLE_OK && !m_refused)
            m_http.fail("transfer failed", res);
        if (!headFits())
            m_http.fail("Content-Range '" + shownText(m_http.contentRange()) + "' does not match the range " + m_asked);
        if (m_at != m_end)
            m_http.fail("body shorter than announced");
    }

    // Whether an answer to the first request says the resource is empty: no
    // range of it can be satisfied (416 with a total of 0), or it came whole
    // and was nothing (200 announcing no bytes, or sending none at all).
    bool emptyAnswer(long status, CURLcode res, ContentRange const& cr) const
    {
        if (status == 416)
            return cr.present && !cr.satisfied && cr.totalKnown && cr.total == 0;
        if (status != 200 || res != CURLE_OK || m_refused || m_overflow || m_at != m_first)
            return false;
        curl_off_t announced = -1;
        if (curl_easy_getinfo(m_http.curl(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK)
            announced = -1;
        // a HEAD answer carries no body whatever the resource holds
        return announced == 0 || (announced < 0 && m_http.method() != "HEAD");
    }

    // Whether the response head answers the range asked for; the first
    // response also gives the size and where its range really ends.
    bool headFits()
    {
        if (m_http.status() != 206)
            return false;
        ContentRange cr;
        cr.parse(m_http.contentRange());
        if (!cr.present || !cr.satisfied || cr.first != m_first)
            return false;
        if (m_probe) {
            if (!cr.totalKnown || cr.total == 0 || cr.last >= cr.total ||
                cr.last != std::min<uint64_t>(m_end - 1, cr.total - 1) || cr.total > SIZE_MAX)
                return false;
            m_size = std::size_t(cr.total);
            m_end = std::size_t(cr.last) + 1;
            return true;
        }
        return cr.last == m_end - 1 && (!cr.totalKnown || cr.total == m_size) && changed().empty();
    }

    // Body bytes: the caller's buffer first, then the cache; when both are
    // full the transfer pauses and the client holds the rest.
    static size_t body(char* data, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<HttpStore*>(self);
        std::size_t bytes = one * n;
        if (!s->m_checked) {
            if (!s->headFits()) {
                s->m_refused = true;
                return 0; // ends the transfer: the answer is not the range asked for
            }
            s->m_checked = true;
        }
        if (bytes > s->m_end - s->m_at) {
            s->m_overflow = true;
            return 0;
        }
        if (s->m_drop) {
            s->m_at += bytes;
            return bytes;
        }
        std::size_t k = std::min(bytes, s->m_dstLeft), rest = bytes - k;
        if (!k && !s->m_keepAll && s->cacheEnd() == s->m_at && s->m_cacheLength + rest > kCacheBytes) {
            s->m_held = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (k) {
            std::memcpy(s->m_dst, data, k);
            s->m_dst += k;
            s->m_dstLeft -= k;
            s->m_at += k;
        }
        if (rest)
            s->keep(data + k, rest);
        return bytes;
    }

    std::size_t cacheEnd() const { return m_cacheOffset + m_cacheLength; }

    // Appends bytes at m_at to the cache, which starts anew unless it ends there.
    void keep(char const* data, std::size_t n)
    {
        if (cacheEnd() != m_at)
            m_cacheOffset = m_at, m_cacheLength = 0;
        if (m_cacheLength + n > m_cache.size())
            m_cache.resize(std::max(m_cacheLength + n, std::min(2 * m_cache.size(), kCacheBytes)));
        std::memcpy(m_cache.data() + m_cacheLength, data, n);
        m_cacheLength += n;
        m_at += n;
    }

    detail::HttpClient m_http;
    std::size_t m_size = 0;
    // the version read: the first answer's validators, and whether later
    // requests carry them as conditions
    std::string m_etag, m_lastModified;
    bool m_conditional = false;
    // the response: asked [m_first, m_end), received up to m_at
    std::string m_asked;
    std::size_t m_first = 0, m_at = 0, m_end = 0;
    bool m_open = false, m_probe = false, m_checked = false, m_refused = false, m_overflow = false;
    bool m_held = false, m_keepAll = false, m_drop = false, m_fresh = false;
    // where received bytes go
    uint8_t* m_dst = nullptr;
    std::size_t m_dstLeft = 0;
    detail::Bytes m_cache;
    std::size_t m_cacheOffset = 0, m_cacheLength = 0;
    // the reader's pattern
    std::size_t m_next = 0, m_run = 0;
};

} // namespace

std::shared_ptr<RandomAccess> detail::openHttpStore(Uri const& uri, std::string const& method,
                                                    HTTPHeaders const& headers, Place place)
{
    return std::make_shared<HttpStore>(uri, method, headers, std::move(place));
}

} // namespace quelbo

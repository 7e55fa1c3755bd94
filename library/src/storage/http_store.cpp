// HTTP(S) stores: a resource read by range requests over one kept connection.
//
// A response is received as the caller reads it: its bytes go straight into
// the caller's buffer, the rest of a received piece waits in a bounded cache
// of received blocks, and the response stays open for the next read. A reader
// that goes on where it stopped (several may, each at its own place) gets
// requests that grow ahead of it; any other read asks for exactly its bytes.
// Runs read in one call (a view's) that lie near each other go in one
// request, the short gaps between them received and dropped. Bytes a read
// finds in the cache cost no request.
//
// The store reads one version of the resource: one of the first answer's
// validators (a strong ETag, else its Last-Modified) goes with every later
// request as a condition, and an answer saying that the resource changed (the
// condition failed, another size, another value of a validator the first
// answer carried, or no validator the store relies on) is refused before any
// of its bytes reach the caller.
#include <algorithm>
#include <cstring>
#include <new>

#include "quelbo/access_factory.h"
#include "storage/access_detail.h"
#include "storage/http_blocks.h"
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
constexpr std::size_t kAheadBytes = detail::HttpClient::kReceiveBuffer;
// An unread rest of a response up to this size is received into the cache to
// keep the connection; a request made for another reader than the last one
// asks ahead no further, so that the next switch keeps it too
constexpr std::size_t kDrainBytes = std::size_t(1) << 20;
// Bytes between two places read this close are received and dropped rather
// than asked for by a request more: on any link they cost less than a round
// trip
constexpr std::size_t kBridgedGap = std::size_t(1) << 20;
// The sequential readers told apart
constexpr std::size_t kReaders = 8;

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
        prepare();
        std::size_t const reader = readerAt(offset, offset + n, 0);
        fetch(offset, n, dst, reach(reader, offset, offset + n), reader, true);
        return n;
    }
    // Runs near each other in the resource, each beginning after the one
    // before it, are read by one request; runs going on near where earlier
    // ones stopped are a sequential reader's.
    std::size_t readRuns(ReadRun const* runs, std::size_t count) override
    {
        return detail::clampedRuns(runs, count, m_size, [this](ReadRun const* r, std::size_t c) {
            prepare();
            std::size_t const reader = readerAt(r[0].offset, r[c - 1].offset + r[c - 1].size, kBridgedGap);
            std::size_t bytes = 0;
            for (std::size_t i = 0; i < c;) {
                std::size_t const first = r[i].offset;
                std::size_t j = i + 1, end = first + r[i].size;
                for (; j < c && r[j].offset >= end && r[j].offset - end <= kBridgedGap &&
                       r[j].offset + r[j].size - first <= kMostAhead;
                     ++j)
                    end = r[j].offset + r[j].size;
                std::size_t const until = j == c ? reach(reader, first, end) : end;
                for (; i < j; ++i) {
                    fetch(r[i].offset, r[i].size, r[i].data, until, reader, false);
                    bytes += r[i].size;
                }
            }
            return bytes;
        });
    }
    std::size_t write(std::size_t, std::size_t, const uint8_t*) override
    {
        detail::missingCapability("HTTP store", "write");
    }
    void resize(std::size_t) override { detail::missingCapability("HTTP store", "resize"); }

private:
    // A reader that goes on where it stopped: where it goes on, and how much
    // it read in a row.
    struct Reader
    {
        std::size_t next = 0, run = 0;
        uint64_t used = 0;
        bool sequential = false;
    };

    // A call begins.
    void prepare()
    {
        if (m_http.moved())
            m_open = m_held = false; // in a fork's child: the open response is the parent's
        m_fresh = false;             // an open response was asked for by an earlier call
        m_http.watch();
    }

    // The reader of [offset, end): the one that stopped there (or at most
    // `slack` before), else the one longest unheard of, starting anew.
    std::size_t readerAt(std::size_t offset, std::size_t end, std::size_t slack)
    {
        std::size_t found = kReaders, oldest = 0;
        for (std::size_t i = 0; i < kReaders; ++i) {
            Reader const& r = m_readers[i];
            if (found == kReaders && r.used && offset >= r.next && offset - r.next <= slack)
                found = i;
            if (r.used < m_readers[oldest].used)
                oldest = i;
        }
        std::size_t const at = found == kReaders ? oldest : found;
        Reader& r = m_readers[at];
        r.sequential = found != kReaders;
        r.run = r.sequential ? std::min(r.run + (end - offset), kMostAhead) : end - offset;
        r.next = end;
        r.used = ++m_clock;
        return at;
    }

    // How far a request for [from, end) reaches: a sequential reader's
    // covers four times what it read in a row (no more than kDrainBytes when
    // the last request was another reader's), any other just the bytes.
    std::size_t reach(std::size_t reader, std::size_t from, std::size_t end) const
    {
        Reader const& r = m_readers[reader];
        if (!r.sequential)
            return end;
        std::size_t ahead = std::clamp(4 * r.run, kLeastAhead, kMostAhead);
        if (m_asker != reader)
            ahead = std::min(ahead, kDrainBytes);
        return std::max(end, std::min(m_size - from, ahead) + from);
    }

    // Moves [pos, pos + n) into dst: from the open response where it is
    // there or a short gap ahead (the gap's bytes kept in the cache, for
    // another reader there, or dropped, between a view's runs), else from
    // the cache, else by a request that reaches at least to `reach`, made
    // for the reader given.
    void fetch(std::size_t pos, std::size_t n, uint8_t* dst, std::size_t reach, std::size_t reader, bool keepGap)
    {
        std::size_t done = 0;
        while (done < n) {
            std::size_t const at = pos + done, left = n - done;
            if (m_open && at == m_at) {
                done += receive(dst + done, left);
            } else if (std::size_t k = m_blocks.take(at, left, dst + done)) {
                done += k;
            } else if (m_open && at > m_at && at < m_end && at - m_at <= kBridgedGap) {
                skip(at, keepGap);
            } else {
                start(at, std::max(at + left, reach) - at);
                m_asker = reader;
            }
        }
    }

    // Asks for [offset, offset + length), leaving any open response first.
    void start(std::size_t offset, std::size_t length)
    {
        leave();
        m_first = m_at = offset;
        m_end = offset + length;
        m_asked = std::to_string(offset) + "-" + std::to_string(m_end - 1);
        m_checked = m_refused = m_overflow = m_held = m_drain = m_noRoom = false;
        m_skipTo = 0;
        m_fresh = true;
        m_keptAhead = 0;
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
        settle();
        return got;
    }

    // Receives the bytes up to `to` in the open response into the cache, or
    // drops them; those of the same pieces after it are kept.
    void skip(std::size_t to, bool keep)
    {
        struct Gap
        {
            HttpStore& s;
            ~Gap() { s.m_skipTo = 0; } // what comes later is for a reader
        } gap{*this};
        m_skipTo = to;
        m_keepGap = keep;
        goOn();
        m_http.pump([this] { return m_at >= m_skipTo; });
        m_skipTo = 0;
        settle();
    }

    // After bytes were received: a response whose bytes all arrived is
    // ended (more is an error, and its end is near); one that ended is
    // checked, or asked for again from where it broke off when the server
    // ended it between calls (an idle connection closed).
    void settle()
    {
        if (m_at == m_end && !m_http.done()) {
            goOn();
            m_http.pump([] { return false; });
        }
        if (m_http.done() && !m_fresh && m_at != m_end && m_http.result() != CURLE_OK && !m_http.stopped() &&
            !m_refused && !m_overflow && !m_noRoom)
            return start(m_at, m_end - m_at);
        if (m_http.done())
            finish();
    }

    void goOn()
    {
        if (m_held) {
            m_held = false;
            m_http.resume();
        }
    }

    // An open response no read wants any more: a short rest is received
    // into the cache to keep the connection, a long one drops it.
    void leave()
    {
        if (!m_open)
            return;
        m_open = false;
        m_drain = true;
        goOn();
        if (m_end - m_at <= kDrainBytes && !m_http.done())
            m_http.pump([] { return false; });
        m_drain = false;
        m_http.cancel();
        m_http.checkWatchdog(); // the peer stalls: asking again would wait as long once more
    }

    // The first answer's version. One validator goes with every later
    // request (a strong ETag as If-Match, else a Last-Modified date as
    // If-Unmodified-Since, either as If-Range), and every later answer is
    // held against both: a weak ETag cannot vouch for the bytes of a range,
    // and a changed date is a changed resource.
    void keepVersion()
    {
        m_etag = m_http.etag();
        m_lastModified = m_http.lastModified();
        m_byTag = !m_etag.empty() && m_etag.compare(0, 2, "W/") != 0;
        std::string const& sent = m_byTag ? m_etag : m_lastModified;
        if (sent.empty() || sent.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return;
        m_http.setHeader(m_byTag ? "If-Match" : "If-Unmodified-Since", sent);
        m_http.setHeader("If-Range", sent);
        m_http.useHeaders();
        m_conditional = true;
    }

    // What a later answer says changed in the resource since the first one;
    // empty when nothing did. A validator that the answer carries must be the
    // first one's; one that it lacks counts when the store relies on it: an
    // ETag, and the date that went as the condition (a strong tag vouching
    // for the bytes, a range's answer may leave the date out).
    std::string changed() const
    {
        long const status = m_http.status();
        ContentRange cr;
        cr.parse(m_http.contentRange());
        if ((status == 206 || status == 416) && cr.present && cr.totalKnown && cr.total != m_size)
            return "size " + std::to_string(m_size) + ", now " + std::to_string(cr.total);
        if (status != 200 && status != 206 && status != 412)
            return {};
        struct Validator
        {
            char const* name;
            std::string const& was;
            std::string const& now;
            bool relied;
        };
        Validator const kept[] = {{"ETag ", m_etag, m_http.etag(), true},
                                  {"Last-Modified ", m_lastModified, m_http.lastModified(), !m_byTag}};
        for (Validator const& v : kept)
            if (!v.was.empty() && !v.now.empty() && v.now != v.was)
                return v.name + shownText(v.was) + ", now " + shownText(v.now);
        Validator const& sent = kept[m_byTag ? 0 : 1];
        if (m_conditional && (status == 412 || (status == 200 && sent.now.empty())))
            return sent.name + shownText(sent.was) + " no longer matches"; // the condition failed
        if (status != 412) // a server that drops one may ignore the conditions too
            for (Validator const& v : kept)
                if (v.relied && !v.was.empty() && v.now.empty())
                    return v.name + shownText(v.was) + ", now none";
        return {};
    }

    // The response is over: it must be the range asked for, whole.
    void finish()
    {
        m_open = false;
        if (m_noRoom)
            throw std::bad_alloc();
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
        if (!headFits()) {
            std::string const why = cr.totalTooLarge ? "announces a total size that cannot be held (2^64 bytes or more)"
                                                     : "does not match the range " + m_asked;
            m_http.fail("Content-Range '" + shownText(m_http.contentRange()) + "' " + why);
        }
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

    // Body bytes: those before a place skipped to go to the cache or are
    // dropped, then the caller's buffer gets its bytes, then the cache the
    // rest; when the reader wants none of a piece and enough waits ahead of
    // it, the transfer pauses and the client holds the rest.
    static size_t body(char* data, size_t one, size_t n, void* self)
    {
        auto* s = static_cast<HttpStore*>(self);
        std::size_t const bytes = one * n;
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
        std::size_t const gap = s->m_skipTo > s->m_at ? std::min(bytes, s->m_skipTo - s->m_at) : 0;
        std::size_t const k = std::min(bytes - gap, s->m_dstLeft), rest = bytes - gap - k;
        if (!gap && !k && !s->m_keepAll && !s->m_drain && s->m_keptAhead + rest > kAheadBytes) {
            s->m_held = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        auto const* bytesAt = reinterpret_cast<uint8_t const*>(data);
        if (gap && !s->m_keepGap)
            s->m_at += gap;
        else if (gap && !s->kept(bytesAt, gap))
            return 0;
        if (k) {
            std::memcpy(s->m_dst, bytesAt + gap, k);
            s->m_dst += k;
            s->m_dstLeft -= k;
            s->m_at += k;
            s->m_keptAhead = 0;
        }
        if (rest && !s->kept(bytesAt + gap + k, rest))
            return 0;
        s->m_keptAhead += rest;
        return bytes;
    }

    // Keeps n received bytes at m_at in the cache; false (the transfer
    // ends, and the read throws std::bad_alloc) when there is no room.
    bool kept(uint8_t const* data, std::size_t n)
    {
        try {
            m_blocks.keep(m_at, data, n);
        } catch (std::bad_alloc const&) {
            m_noRoom = true;
            return false;
        }
        m_at += n;
        return true;
    }

    detail::HttpClient m_http;
    std::size_t m_size = 0;
    // the version read: the first answer's validators, and whether later
    // requests carry them as conditions
    std::string m_etag, m_lastModified;
    bool m_byTag = false; // the condition is the ETag (a strong one), else the date
    bool m_conditional = false;
    // the response: asked [m_first, m_end), received up to m_at
    std::string m_asked;
    std::size_t m_first = 0, m_at = 0, m_end = 0;
    bool m_open = false, m_probe = false, m_checked = false, m_refused = false, m_overflow = false;
    bool m_held = false, m_keepAll = false, m_drain = false, m_fresh = false, m_noRoom = false, m_keepGap = false;
    // where received bytes go: dropped up to m_skipTo, then the caller's
    // buffer, then the cache (m_keptAhead of them beyond the reader)
    std::size_t m_skipTo = 0;
    uint8_t* m_dst = nullptr;
    std::size_t m_dstLeft = 0, m_keptAhead = 0;
    detail::ReceivedBlocks m_blocks;
    // the sequential readers (the first goes on after the opening's window),
    // and the one the last request was made for (kReaders: none)
    Reader m_readers[kReaders] = {{0, 0, 1, false}};
    uint64_t m_clock = 1;
    std::size_t m_asker = 0;
};

} // namespace

std::shared_ptr<RandomAccess> detail::openHttpStore(Uri const& uri, std::string const& method,
                                                    HTTPHeaders const& headers, Place place)
{
    return std::make_shared<HttpStore>(uri, method, headers, std::move(place));
}

} // namespace quelbo

// The HTTP client: request checks, the watchdog and the transfer driver.
#include "storage/http_client.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "quelbo/error.h"
#include "storage/shown_uri.h"

namespace quelbo::detail {

namespace {

constexpr long kConnectSeconds = 10; // connecting may take this long
constexpr long kMaxRedirects = 5;
constexpr int kPollMilliseconds = 250; // the watchdog looks at least this often

void globalInit()
{
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    if (!done)
        throw Error("HTTP: the client library could not be initialised");
}

void checkRequest(Uri const& uri, std::string const& method, HTTPHeaders const& headers)
{
    std::string scheme = uri.scheme();
    if (scheme != "http" && scheme != "https")
        throw InvalidArgument("HTTP: unsupported scheme '" + scheme + "'");
    checkRequestText(method, "the method");
    if (method.empty() || method.find_first_of(" \t") != std::string::npos)
        throw InvalidArgument("HTTP: invalid method '" + method + "'");
    for (std::size_t i = 0; i < headers.size(); ++i) {
        HTTPHeaders::Entry e = headers.at(i);
        checkRequestText(e.name, "a header name");
        checkRequestText(e.value, "a header value");
        if (e.name.empty() || e.name.find_first_of(":; \t") != std::string::npos)
            throw InvalidArgument("HTTP: invalid header name '" + e.name + "'");
    }
}

// A request header as the client library takes it. It reads "Name:" with
// nothing but blanks after it as "send no such header", and "Name;" as the
// header with an empty value: a value of blanks is an empty one.
std::string headerLine(std::string const& name, std::string const& value)
{
    if (value.find_first_not_of(" \t") == std::string::npos)
        return name + ";";
    return name + ": " + value;
}

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

// A response header's value: its text after the name, without the spaces
// around it and the line end.
std::string headerValue(char const* data, std::size_t n, std::size_t nameLength)
{
    std::size_t first = nameLength;
    while (first < n && (data[first] == ' ' || data[first] == '\t'))
        ++first;
    std::size_t end = n;
    while (end > first && std::isspace(static_cast<unsigned char>(data[end - 1])))
        --end;
    return std::string(data + first, end - first);
}

// The decimal number at i, its digits passed over; false when there is none,
// or when it is 2^64 or more (`tooLarge` then).
bool number(std::string const& s, std::size_t& i, uint64_t& out, bool* tooLarge = nullptr)
{
    std::size_t start = i;
    uint64_t v = 0;
    bool over = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        unsigned d = unsigned(s[i] - '0');
        over = over || v > (UINT64_MAX - d) / 10;
        v = v * 10 + d;
        ++i;
    }
    out = v;
    if (tooLarge)
        *tooLarge = over;
    return i > start && !over;
}

} // namespace

// Request texts travel into the request as they are: CR, LF and NUL would
// let a caller inject headers or requests.
void checkRequestText(std::string const& text, char const* what)
{
    if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw InvalidArgument(std::string("HTTP: ") + what + " holds CR, LF or NUL");
}

void ContentRange::parse(std::string s)
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
    else if (!number(s, i, total, &totalTooLarge) || i != s.size()) {
        totalTooLarge = totalTooLarge && i == s.size();
        return;
    }
    else
        totalKnown = true;
    present = true;
}

// ------------------------------------------------------------------ watchdog

void Watchdog::start()
{
    m_lastSign = m_windowStart = Clock::now();
    m_windowBody = m_body;
    m_verdict.clear();
}

void Watchdog::request()
{
    m_counted = 0;
}

void Watchdog::heard(std::size_t n)
{
    if (n)
        m_lastSign = Clock::now();
    judge();
}

void Watchdog::moved(uint64_t counted)
{
    if (counted != m_counted) {
        m_body += counted > m_counted ? counted - m_counted : counted;
        m_counted = counted;
        m_lastSign = Clock::now();
    }
    judge();
}

// A head that keeps coming, interim answers without end or a body that
// trickles all keep the stall rule quiet; only body bytes fill a window.
void Watchdog::judge()
{
    if (!m_verdict.empty())
        return;
    Clock::time_point now = Clock::now();
    if (now - m_lastSign >= std::chrono::seconds(kStallSeconds)) {
        m_verdict = "stalled: no progress for " + std::to_string(kStallSeconds) + " s";
    } else if (now - m_windowStart >= std::chrono::seconds(kWindowSeconds)) {
        uint64_t moved = m_body - m_windowBody;
        if (moved < kWindowBytes)
            m_verdict = "too slow: " + std::to_string(moved) + " body bytes in " + std::to_string(kWindowSeconds) +
                        " s, fewer than " + std::to_string(kWindowBytes);
        m_windowStart = now;
        m_windowBody = m_body;
    }
}

// -------------------------------------------------------------------- client

HttpClient::HttpClient(Uri const& uri, std::string const& method, HTTPHeaders const& headers, bool follow)
    : m_url(uri.toString()), m_shown(shownUri(m_url)), m_method(method), m_process(currentProcess()),
      m_follow(follow)
{
    checkRequest(uri, method, headers);
    globalInit();
    m_curl = curl_easy_init();
    m_multi = m_curl ? newMulti(m_own, m_ownKnown) : nullptr;
    if (!m_multi) {
        curl_easy_cleanup(m_curl);
        throw std::bad_alloc();
    }
    try {
        for (std::size_t i = 0; i < headers.size(); ++i) {
            HTTPHeaders::Entry e = headers.at(i);
            addHeader(headerLine(e.name, e.value));
        }
        set(CURLOPT_URL, m_url.c_str());
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        set(CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        set(CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
        set(CURLOPT_BUFFERSIZE, long(kReceiveBuffer));
        set(CURLOPT_NOSIGNAL, 1L);
        set(CURLOPT_ERRORBUFFER, m_error);
        set(CURLOPT_SSL_VERIFYPEER, 1L);
        set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (char const* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
            set(CURLOPT_CAINFO, ca);
        set(CURLOPT_HEADERFUNCTION, &HttpClient::header);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_XFERINFOFUNCTION, &HttpClient::progress);
        set(CURLOPT_XFERINFODATA, this);
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_OPENSOCKETFUNCTION, &HttpClient::openSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        set(CURLOPT_CLOSESOCKETFUNCTION, &HttpClient::closeSocket);
        set(CURLOPT_CLOSESOCKETDATA, this);
    } catch (...) {
        release();
        throw;
    }
}

HttpClient::~HttpClient()
{
    release();
}

void HttpClient::release()
{
    dropHandles();
    curl_slist_free_all(m_headers);
    m_headers = nullptr;
}

void HttpClient::addHeader(std::string const& line)
{
    curl_slist* l = curl_slist_append(m_headers, line.c_str());
    if (!l)
        throw std::bad_alloc();
    m_headers = l;
}

void HttpClient::setHeader(std::string const& name, std::string const& value)
{
    curl_slist* kept = nullptr;
    try {
        for (curl_slist* l = m_headers; l; l = l->next) {
            char const* line = l->data;
            std::size_t n = std::strcspn(line, ":;");
            bool const same = n == name.size() && line[n] && ::strncasecmp(line, name.c_str(), n) == 0;
            if (same)
                continue;
            curl_slist* grown = curl_slist_append(kept, line);
            if (!grown)
                throw std::bad_alloc();
            kept = grown;
        }
        curl_slist* grown = curl_slist_append(kept, headerLine(name, value).c_str());
        if (!grown)
            throw std::bad_alloc();
        kept = grown;
    } catch (...) {
        curl_slist_free_all(kept);
        throw;
    }
    curl_slist_free_all(m_headers);
    m_headers = kept;
}

void HttpClient::useHeaders()
{
    set(CURLOPT_HTTPHEADER, m_headers);
}

void HttpClient::watch()
{
    m_watch.start();
}

bool HttpClient::begin()
{
    cancel();
    m_done = false;
    m_result = CURLE_OK;
    m_contentRange.clear();
    m_error[0] = 0;
    m_watch.request();
    m_active = curl_multi_add_handle(m_multi, m_curl) == CURLM_OK;
    return m_active;
}

void HttpClient::advance()
{
    int running = 0;
    if (curl_multi_perform(m_multi, &running) != CURLM_OK)
        throw Error("HTTP " + m_method + " '" + m_shown + "': the transfer broke down");
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) {
            m_done = true;
            m_result = msg->data.result;
        }
    }
}

void HttpClient::wait()
{
    curl_multi_poll(m_multi, nullptr, 0, kPollMilliseconds, nullptr);
}

void HttpClient::cancel()
{
    if (m_active)
        curl_multi_remove_handle(m_multi, m_curl);
    m_active = false;
}

void HttpClient::resume()
{
    CURLcode res = curl_easy_pause(m_curl, CURLPAUSE_CONT);
    if (res != CURLE_OK && !m_done) {
        m_done = true;
        m_result = res;
    }
}

long HttpClient::status() const
{
    long code = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

void HttpClient::checkWatchdog() const
{
    if (!m_watch.verdict().empty())
        fail(m_watch.verdict());
}

size_t HttpClient::header(char* data, size_t one, size_t n, void* self)
{
    auto* c = static_cast<HttpClient*>(self);
    std::size_t bytes = one * n;
    if (startsWithNoCase(data, bytes, "http/")) {
        // a new response (an interim one, or after a redirect)
        c->m_contentRange.clear();
        c->m_etag.clear();
        c->m_lastModified.clear();
    } else if (startsWithNoCase(data, bytes, "content-range:")) {
        c->m_contentRange = headerValue(data, bytes, 14);
    } else if (startsWithNoCase(data, bytes, "etag:")) {
        c->m_etag = headerValue(data, bytes, 5);
    } else if (startsWithNoCase(data, bytes, "last-modified:")) {
        c->m_lastModified = headerValue(data, bytes, 14);
    }
    c->m_watch.heard(bytes);
    return c->m_watch.verdict().empty() ? bytes : 0;
}

int HttpClient::progress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow)
{
    auto* c = static_cast<HttpClient*>(self);
    c->m_watch.moved(uint64_t(dlnow) + uint64_t(ulnow));
    return c->m_watch.verdict().empty() ? 0 : 1;
}

} // namespace quelbo::detail

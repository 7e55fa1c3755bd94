// The HTTP client under the HTTP stores and uploads (private to the library):
// one libcurl easy handle driven through its own multi handle, so a transfer
// can stop whenever the caller has what it asked for and go on at its next call,
// on the caller's thread and without threads of its own. Every wait is watched:
// a peer that moves nothing, or too little, ends the request with Error.
#pragma once
#include <curl/curl.h>

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quelbo/http_headers.h"
#include "quelbo/random_access.h"
#include "quelbo/uri.h"
#include "storage/access_detail.h"
#include "storage/process.h"

namespace quelbo::detail {

// Error when a request text would carry CR, LF or NUL into the request.
void checkRequestText(std::string const& text, char const* what);

// A text a peer sent, as a message may quote it: printable ASCII only, cut
// short when long.
std::string shownText(std::string const& text);

// "bytes first-last/total" ("*" for an unknown total, "*/total" for an
// unsatisfiable range). A total of 2^64 or more is no total: present stays
// false, and totalTooLarge says why.
struct ContentRange
{
    bool present = false, satisfied = false, totalKnown = false, totalTooLarge = false;
    uint64_t first = 0, last = 0, total = 0;
    void parse(std::string s);
};

// Decides when a request is going nowhere. Time counts from the start of
// each call; the limits hold for all its requests, heads included.
class Watchdog
{
public:
    static constexpr int kStallSeconds = 15;        // nothing at all from or to the peer
    static constexpr int kWindowSeconds = 30;       // each window of a call must move
    static constexpr uint64_t kWindowBytes = 32768; // this many body bytes (or finish)

    void start();                 // a call begins
    void request();               // a new request: its counts start from zero
    void heard(std::size_t n);    // bytes of a response head
    void moved(uint64_t counted); // body bytes of the request so far, both ways
    // Empty while the request may go on, else what went wrong.
    std::string const& verdict() const { return m_verdict; }

private:
    using Clock = std::chrono::steady_clock;
    void judge();
    Clock::time_point m_lastSign, m_windowStart;
    uint64_t m_body = 0, m_counted = 0, m_windowBody = 0;
    std::string m_verdict;
};

// One request at a time over one connection, kept for the next request.
// The connection belongs to the process that opened it: used in another one
// (a fork's child), the client leaves it to its owner and connects anew.
class HttpClient
{
public:
    // What one receive may take from the socket: large enough for few calls,
    // small enough to stay in the processor's cache on its way to the reader.
    static constexpr std::size_t kReceiveBuffer = 512 * 1024;

    HttpClient(Uri const& uri, std::string const& method, HTTPHeaders const& headers, bool follow);
    HttpClient(HttpClient const&) = delete;
    HttpClient& operator=(HttpClient const&) = delete;
    ~HttpClient();

    template <class V>
    void set(CURLoption option, V value)
    {
        if (curl_easy_setopt(m_curl, option, value) != CURLE_OK)
            throw Error("HTTP: the client refused an option for '" + m_shown + "'");
    }
    void addHeader(std::string const& line); // before the first request
    // The header of that name as given, in place of the caller's ones.
    void setHeader(std::string const& name, std::string const& value);
    void useHeaders(); // the request headers as given and added

    // Whether the client was made in another process (a fork's parent), which
    // owns its connection.
    bool foreign() const;
    // In another process than the connection's: the connection is left to its
    // owner (only this process's descriptor of it is closed, nothing is sent
    // on it) and the client goes on afresh in this process, with no request
    // open; true then. False in the owner's process.
    bool moved();

    void watch(); // a call that may wait begins: the limits count from here
    bool begin(); // starts a request with the options set; false when it cannot
    // Runs the request until done() or until() holds, or until the watchdog
    // ends it.
    template <class Until>
    void pump(Until until)
    {
        while (!m_done && !until()) {
            advance();
            if (!m_done && !until())
                wait();
        }
    }
    bool done() const { return m_done; }
    CURLcode result() const { return m_result; }
    void cancel(); // drops the request (and its connection when unfinished)
    void resume(); // goes on after a callback paused: held bytes arrive now

    long status() const;
    // Response headers of the last response, without their line ends.
    std::string const& contentRange() const { return m_contentRange; }
    std::string const& etag() const { return m_etag; }
    std::string const& lastModified() const { return m_lastModified; }
    std::string const& method() const { return m_method; }
    std::string const& shown() const { return m_shown; }
    CURL* curl() const { return m_curl; }

    // Error "HTTP <method> '<url>': <what>".
    [[noreturn]] void raise(std::string const& what) const;
    // Error naming the request, its final status and the client's reason.
    [[noreturn]] void fail(std::string const& what, CURLcode res = CURLE_OK) const;
    // Error when the request got no final answer or one other than a
    // success (its status and reason). A transfer that failed first names
    // its failure (a TLS one, too many redirects, a redirect's target that
    // cannot be parsed or reached or has another scheme), else `unanswered`
    // with the client's reason.
    void checkAnswer(CURLcode res, char const* unanswered = "no answer") const;
    // Whether the watchdog ended the request, and Error with its verdict if so.
    bool stopped() const { return !m_watch.verdict().empty(); }
    void checkWatchdog() const;

private:
    bool finalAnswer(long code, CURLcode res) const;
    std::string reason(CURLcode res) const;
    void advance();
    void wait();
    void release();
    void dropHandles();
    bool leaveConnections();
    struct Socket;
    CURLM* newMulti(std::vector<Socket>& own, bool& known);
    static size_t header(char* data, size_t one, size_t n, void* self);
    static int progress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow);
    static curl_socket_t openSocket(void* self, curlsocktype, curl_sockaddr* address);
    static int closeSocket(void* self, curl_socket_t socket);

    CURL* m_curl = nullptr;
    CURLM* m_multi = nullptr;
    curl_slist* m_headers = nullptr;
    std::string m_url, m_shown, m_method, m_contentRange, m_etag, m_lastModified;
    pid_t m_process = 0;           // the process whose connections these are
    // A connection's descriptor and the identity of its socket, by which a
    // fork's child tells whether the number still names the inherited one.
    struct Socket
    {
        int fd;
        dev_t device;
        ino_t inode;
        bool inherited() const;
    };
    std::vector<Socket> m_sockets; // the client's connections
    std::vector<Socket> m_own;     // the multi handle's own descriptors
    bool m_ownKnown = false;       // whether m_own holds all of them
    char m_error[CURL_ERROR_SIZE] = {0};
    Watchdog m_watch;
    bool m_active = false, m_done = false, m_follow = false;
    CURLcode m_result = CURLE_OK;
};

// A read-only store over the resource, read by range requests.
std::shared_ptr<RandomAccess> openHttpStore(Uri const& uri, std::string const& method, HTTPHeaders const& headers,
                                            Place place);

} // namespace quelbo::detail

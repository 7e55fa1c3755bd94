// The HTTP client's connections belong to the process that opened them: a
// fork's child that uses a client parts it from the inherited connections
// and connects anew. The child's descriptors are its own: one it closed and
// whose number now names something else (a file, another socket) is never
// touched again.
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <new>

#include "storage/http_client.h"

namespace quelbo::detail {

namespace {

// The identity of what a descriptor names: false when it names nothing.
bool identify(int fd, dev_t& device, ino_t& inode)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    device = st.st_dev;
    inode = st.st_ino;
    return true;
}

// The numbers of the descriptors open now, sorted; false when they cannot
// be listed.
bool openNumbers(std::vector<int>& out)
{
    out.clear();
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    int const own = ::dirfd(dir);
    while (dirent* e = ::readdir(dir)) {
        char* end = nullptr;
        long const n = std::strtol(e->d_name, &end, 10);
        if (e->d_name[0] != '.' && end && !*end && n != own)
            out.push_back(int(n));
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return true;
}

bool localSocket(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.ss_family == AF_UNIX;
}

} // namespace

bool HttpClient::Socket::inherited() const
{
    dev_t d;
    ino_t i;
    return identify(fd, d, i) && d == device && i == inode;
}

// Frees the handles; in another process than the connections' owner, they
// are first parted from the connections, or, when a connection's number no
// longer names the inherited socket, left as they are, never freed: freeing
// them would close, read or write that number (a TLS close does).
void HttpClient::dropHandles()
{
    if (foreign() && !leaveConnections()) {
        m_active = false;
    } else {
        cancel();
        curl_easy_cleanup(m_curl);
        curl_multi_cleanup(m_multi);
    }
    m_curl = nullptr;
    m_multi = nullptr;
    m_sockets.clear();
    m_own.clear();
}

// A multi handle, and the descriptors it made for itself (own): the client
// library's wakeup pair of local sockets, told apart as the local sockets
// that were not open before. They are known when they are a pair (or none);
// otherwise (another thread opened local sockets meanwhile, or the
// descriptors cannot be listed) a fork's child never frees the handle.
CURLM* HttpClient::newMulti(std::vector<Socket>& own, bool& known)
{
    std::vector<int> before, after;
    bool const listed = openNumbers(before);
    CURLM* multi = curl_multi_init();
    own.clear();
    known = false;
    try {
        if (!multi || !listed || !openNumbers(after))
            return multi;
        std::vector<int> made;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(made));
        for (int fd : made) {
            Socket s{fd, 0, 0};
            if (localSocket(fd) && identify(fd, s.device, s.inode))
                own.push_back(s);
        }
    } catch (std::bad_alloc const&) {
        own.clear();
        return multi;
    }
    known = own.empty() || own.size() == 2;
    return multi;
}

// Puts an unconnected socket in place of this process's descriptor of each
// connection, so that nothing the client library sends or closes on them (a
// TLS close, a dropped request) reaches the peer: the connections stay their
// owner's. When a number of a connection or of the multi handle's own pair no
// longer names the inherited socket (this process closed it, and may have
// opened something else under it) or is not known, or a socket cannot be
// put in place, the descriptors that are still this process's are closed,
// the others left alone, and false returned: the handles must never run
// again.
bool HttpClient::leaveConnections()
{
    bool free = m_ownKnown;
    for (Socket const& s : m_sockets)
        free = free && s.inherited();
    for (Socket const& s : m_own)
        free = free && s.inherited();
    std::size_t placed = 0;
    for (; free && placed < m_sockets.size(); ++placed) {
        int const dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int const fd = m_sockets[placed].fd;
        free = dead >= 0 && ::dup3(dead, fd, O_CLOEXEC) == fd;
        if (dead >= 0)
            ::close(dead);
        if (!free)
            break;
    }
    if (free)
        return true;
    for (std::size_t i = 0; i < m_sockets.size(); ++i)
        if (i < placed || m_sockets[i].inherited())
            ::close(m_sockets[i].fd);
    for (Socket const& s : m_own)
        if (s.inherited())
            ::close(s.fd);
    return false;
}

bool HttpClient::foreign() const
{
    return m_process != currentProcess();
}

bool HttpClient::moved()
{
    if (!foreign())
        return false;
    CURL* fresh = curl_easy_duphandle(m_curl); // the options, without connections
    std::vector<Socket> own;
    bool known = false;
    CURLM* multi = fresh ? newMulti(own, known) : nullptr;
    if (!multi) {
        curl_easy_cleanup(fresh);
        throw std::bad_alloc();
    }
    dropHandles();
    m_curl = fresh;
    m_multi = multi;
    m_own = std::move(own);
    m_ownKnown = known;
    m_process = currentProcess();
    m_done = false;
    m_result = CURLE_OK;
    return true;
}

curl_socket_t HttpClient::openSocket(void* self, curlsocktype, curl_sockaddr* address)
{
    auto* c = static_cast<HttpClient*>(self);
    Socket s{::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol), 0, 0};
    if (s.fd < 0)
        return CURL_SOCKET_BAD;
    try {
        if (!identify(s.fd, s.device, s.inode))
            throw std::bad_alloc();
        c->m_sockets.push_back(s);
    } catch (...) {
        ::close(s.fd);
        return CURL_SOCKET_BAD;
    }
    return s.fd;
}

int HttpClient::closeSocket(void* self, curl_socket_t socket)
{
    auto* c = static_cast<HttpClient*>(self);
    for (std::size_t i = 0; i < c->m_sockets.size(); ++i) {
        if (c->m_sockets[i].fd == socket) {
            c->m_sockets.erase(c->m_sockets.begin() + std::ptrdiff_t(i));
            break;
        }
    }
    return ::close(socket);
}

} // namespace quelbo::detail

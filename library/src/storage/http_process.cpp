// The HTTP client's connections belong to the process that opened them: a
// fork's child that uses a client parts it from the inherited connections
// and connects anew. The child's descriptors are its own: one it closed and
// whose number now names something else (a file, another socket) is never
// touched again.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
}

// Puts an unconnected socket in place of this process's descriptor of each
// connection, so that nothing the client library sends or closes on them (a
// TLS close, a dropped request) reaches the peer: the connections stay their
// owner's. When a number no longer names the inherited socket (this process
// closed it, and may have opened something else under it), or a socket
// cannot be put in place, the descriptors still inherited are closed, the
// others left alone, and false returned: the handles must never run again.
bool HttpClient::leaveConnections()
{
    bool all = true;
    for (Socket const& s : m_sockets)
        all = all && s.inherited();
    for (Socket const& s : m_sockets) {
        if (!all) {
            if (s.inherited())
                ::close(s.fd);
            continue;
        }
        int dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool const placed = dead >= 0 && ::dup3(dead, s.fd, O_CLOEXEC) == s.fd;
        if (dead >= 0)
            ::close(dead);
        if (!placed) {
            all = false;
            ::close(s.fd);
        }
    }
    return all;
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
    CURLM* multi = fresh ? curl_multi_init() : nullptr;
    if (!multi) {
        curl_easy_cleanup(fresh);
        throw std::bad_alloc();
    }
    dropHandles();
    m_curl = fresh;
    m_multi = multi;
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

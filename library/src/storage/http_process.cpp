// The HTTP client's connections belong to the process that opened them: a
// fork's child that uses a client parts it from the inherited connections
// and connects anew.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

#include "storage/http_client.h"

namespace quelbo::detail {

// Frees the handles; in another process than the connections' owner, they
// are first parted from the connections (or, when that fails, left as they
// are, never freed).
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
// owner's. False when that could not be done.
bool HttpClient::leaveConnections()
{
    for (int fd : m_sockets) {
        int dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool const placed = dead >= 0 && ::dup3(dead, fd, O_CLOEXEC) == fd;
        if (dead >= 0)
            ::close(dead);
        if (!placed)
            return false;
    }
    return true;
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
    int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd < 0)
        return CURL_SOCKET_BAD;
    try {
        c->m_sockets.push_back(fd);
    } catch (...) {
        ::close(fd);
        return CURL_SOCKET_BAD;
    }
    return fd;
}

int HttpClient::closeSocket(void* self, curl_socket_t socket)
{
    auto* c = static_cast<HttpClient*>(self);
    for (std::size_t i = 0; i < c->m_sockets.size(); ++i) {
        if (c->m_sockets[i] == socket) {
            c->m_sockets.erase(c->m_sockets.begin() + std::ptrdiff_t(i));
            break;
        }
    }
    return ::close(socket);
}

} // namespace quelbo::detail

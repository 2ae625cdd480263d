// Windows Sockets (ws2_32) over BSD sockets.
//
// Divisions, in order:
//   - errors: the Windows Sockets codes of POSIX errors, and WSAGetLastError
//   - start-up and clean-up: WSAStartup and WSACleanup
//   - waiting: WSAPoll
//   - sockets: closesocket, ioctlsocket, and the calls whose Windows
//     signature differs from the BSD one
//
// Where this differs from Windows, and why:
// - BSD sockets need no start-up, so WSAStartup and WSACleanup only count:
//   a socket call made before WSAStartup works here, where Windows fails it
//   with WSANOTINITIALISED. A WSACleanup without a WSAStartup still fails,
//   but WSAGetLastError then answers 0.
// - WSAGetLastError reads errno, mapped to the Windows Sockets codes of the
//   errors the system tells apart; any other error is answered as its errno
//   value. A connection still in progress reads as WSAEWOULDBLOCK, as on
//   Windows.
// - send never raises SIGPIPE: Windows reports a closed peer as an error, not
//   a signal.
// - ioctlsocket takes FIONBIO only.
#include "platform/ws2_32.h"

// The header names Windows' FIONBIO; from here on the name is the system's.
namespace {
const u_long WindowsNonBlockingIo = FIONBIO;
}
#undef FIONBIO
#include <sys/ioctl.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

// --- errors --------------------------------------------------------------------------------------

namespace {

int windowsSocketError(int posixError) {
    switch (posixError) {
    case EINTR:
        return WSAEINTR;
    case EINVAL:
        return WSAEINVAL;
    case EINPROGRESS:
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEINPROGRESS;
    case ENOTSOCK:
    case EBADF:
        return WSAENOTSOCK;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOTCONN:
        return WSAENOTCONN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EHOSTUNREACH:
    case ENETUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return posixError;
    }
}

} // namespace

int WSAGetLastError() {
    return windowsSocketError(errno);
}

// --- start-up and clean-up -----------------------------------------------------------------------

namespace {

std::atomic<int> startups{0};

} // namespace

int WSAStartup(WORD version, LPWSADATA data) {
    BYTE major = BYTE(version & 0xFF), minor = BYTE(version >> 8);
    if (major < 1 || (major == 1 && minor < 1)) {
        return WSAVERNOTSUPPORTED;
    }
    if (data != nullptr) {
        std::memset(data, 0, sizeof *data);
        data->wVersion = version;
        data->wHighVersion = MAKEWORD(2, 2);
        std::strcpy(data->szDescription, "hollin sockets over BSD sockets");
        std::strcpy(data->szSystemStatus, "Running");
    }
    startups.fetch_add(1);
    return 0;
}

int WSACleanup() {
    int previous = startups.load();
    while (previous > 0 && !startups.compare_exchange_weak(previous, previous - 1)) {
    }
    if (previous <= 0) {
        errno = 0;
        return SOCKET_ERROR; // WSANOTINITIALISED
    }
    return 0;
}

// --- waiting -------------------------------------------------------------------------------------

int WSAPoll(LPWSAPOLLFD sockets, ULONG count, int timeout) {
    int ready = poll(sockets, nfds_t(count), timeout);
    return ready < 0 ? SOCKET_ERROR : ready;
}

// --- sockets -------------------------------------------------------------------------------------

int closesocket(SOCKET s) {
    return close(s) == 0 ? 0 : SOCKET_ERROR;
}

int ioctlsocket(SOCKET s, long command, u_long* argument) {
    if (u_long(command) != WindowsNonBlockingIo || argument == nullptr) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    // One system call, where reading and setting the flags takes two.
    int nonBlocking = *argument != 0 ? 1 : 0;
    return ioctl(s, FIONBIO, &nonBlocking) == 0 ? 0 : SOCKET_ERROR;
}

int send(SOCKET s, const char* buffer, int length, int flags) {
    if (length < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    ssize_t sent =
        ::send(s, static_cast<const void*>(buffer), size_t(length), flags | MSG_NOSIGNAL);
    return sent < 0 ? SOCKET_ERROR : int(sent);
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    if (length < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    ssize_t received = ::recv(s, static_cast<void*>(buffer), size_t(length), flags);
    return received < 0 ? SOCKET_ERROR : int(received);
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length) {
    if (length == nullptr || *length < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    socklen_t size = socklen_t(*length);
    int result = ::getsockopt(s, level, name, static_cast<void*>(value), &size);
    *length = int(size);
    return result == 0 ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
    if (length < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    int result = ::setsockopt(s, level, name, static_cast<const void*>(value), socklen_t(length));
    return result == 0 ? 0 : SOCKET_ERROR;
}

int getsockname(SOCKET s, sockaddr* address, int* length) {
    if (length == nullptr || *length < 0) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    socklen_t size = socklen_t(*length);
    int result = ::getsockname(s, address, &size);
    *length = int(size);
    return result == 0 ? 0 : SOCKET_ERROR;
}

// ws2_32 stand-ins: Windows Sockets names over BSD sockets.
//
// The BSD calls that Windows shares by name (socket, connect, select,
// shutdown, getaddrinfo, ...) are the system's own. Where the Windows
// signature differs (send, recv, getsockopt, setsockopt take char buffers
// and int sizes), an overload with the Windows signature is declared here;
// it wins overload resolution for calls written the Windows way. Where the
// calls differ from Windows, and why, is said in ws2_32.cpp.
#pragma once

#include "platform/wintypes.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)
#define SD_RECEIVE SHUT_RD
#define SD_SEND SHUT_WR
#define SD_BOTH SHUT_RDWR

typedef unsigned long u_long;
// The Windows value: only ioctlsocket reads it, and it takes no other command.
#define FIONBIO 0x8004667E

// Waiting on sockets, with poll's semantics under the Windows names.
typedef struct pollfd WSAPOLLFD;
typedef WSAPOLLFD* LPWSAPOLLFD;
int WSAPoll(LPWSAPOLLFD sockets, ULONG count, int timeout);

#define MAKEWORD(low, high) ((WORD)(((BYTE)(low)) | ((WORD)((BYTE)(high))) << 8))

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
} WSADATA, *LPWSADATA;

// Windows Sockets error codes for the errors the system tells apart.
#define WSAEINTR 10004
#define WSAEINVAL 10022
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAENOTSOCK 10038
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOTCONN 10057
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093

// Counts start-ups; the version must be 1.1 or later, as on Windows.
int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup();
// The last socket error of this thread, as a Windows Sockets code. A
// connection still in progress reads as WSAEWOULDBLOCK, as on Windows.
int WSAGetLastError();

int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, long command, u_long* argument);
int send(SOCKET s, const char* buffer, int length, int flags);
int recv(SOCKET s, char* buffer, int length, int flags);
int getsockopt(SOCKET s, int level, int name, char* value, int* length);
int setsockopt(SOCKET s, int level, int name, const char* value, int length);
int getsockname(SOCKET s, sockaddr* address, int* length);

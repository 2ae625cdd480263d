// One HTTP GET, the transport under RDAP: libcurl natively, WinHTTP on
// Windows (found at run time in the system directory, so that the library
// loads where it is missing).
//
// Redirects are not followed here: the response carries its Location, and
// the caller decides whether and where to go next (it counts the hops and
// applies its own rule about which URLs it accepts). Certificates are always
// checked for https.
//
// Where this differs between the builds: natively `caFile` names the PEM file
// of the authorities to trust (none given: the system's); WinHTTP always
// trusts the system's store and ignores it.
#pragma once

// Reached through platform/winapi.h, which has given the Windows types.

enum HttpOutcome : DWORD {
    HttpDone = 0,      // a response came, whatever its status
    HttpStopped,       // the stop event was set; returned promptly
    HttpUnavailable,   // no HTTP transport on this system
    HttpResolveFailed, // the host name did not resolve
    HttpConnectFailed, // refused, unreachable
    HttpTlsFailed,     // the handshake or the certificate check failed
    HttpTimedOut,      // connect or receive time-out
    HttpBodyTooLarge,  // the body is longer than maxBody; the first maxBody bytes are kept
    HttpFailed         // anything else: systemError and failedCall say what
};

struct HttpGetRequest {
    LPCSTR url;           // absolute http:// or https:// URL, ASCII
    LPCSTR accept;        // the Accept header's value, or null for none
    LPCSTR caFile;        // natively: PEM file of trusted authorities, or null
    DWORD connectTimeout; // milliseconds
    DWORD receiveTimeout; // milliseconds the server may stay silent
    DWORD maxBody;        // bytes kept at most
    HANDLE stopEvent;     // when set, the fetch ends within a wait slice (~50 ms)
};

struct HttpResponse {
    DWORD status;        // the HTTP status code (0 when no response came)
    char* location;      // the Location header, NUL-ended, or null
    char* contentType;   // the Content-Type header, NUL-ended, or null
    unsigned char* body; // the body (at most maxBody bytes), or null
    DWORD bodyLength;
    DWORD systemError;   // errno / GetLastError / the library's code of a failure
    char failedCall[32]; // the call that failed, for the failure line
};

// Fills `response` (which it first clears); free it with HttpFreeResponse
// whatever the outcome.
HttpOutcome HttpFetch(const HttpGetRequest& request, HttpResponse& response);
void HttpFreeResponse(HttpResponse& response);

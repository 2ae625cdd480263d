// What both transports of HttpFetch share: HttpFetch itself (which clears
// the response and keeps exceptions in), what a fetch gathers while it runs,
// and how that becomes the caller's HttpResponse.
//
// Internal to the platform layer. Each transport implements
// HttpTransportFetch; it may throw std::bad_alloc, which HttpFetch turns
// into HttpFailed.
#pragma once

#include "platform/winapi.h"

#include <cstddef>
#include <string>
#include <vector>

struct HttpGathered {
    DWORD status = 0;
    bool hasLocation = false;
    std::string location;
    bool hasContentType = false;
    std::string contentType;
    DWORD maxBody = 0;
    std::vector<unsigned char> body;
    bool bodyTooLarge = false;

    // Keeps what fits within maxBody; false, with bodyTooLarge set, when
    // more came than fits.
    bool AppendBody(const void* data, size_t length);
};

// The transport's fetch, given a cleared response and a URL.
HttpOutcome HttpTransportFetch(const HttpGetRequest& request, HttpResponse& response);

void SetHttpFailedCall(HttpResponse& response, const char* call);

// Hands what was gathered to the response; false, with the response freed
// and the failure recorded, when memory runs out.
bool KeepHttpResponse(const HttpGathered& gathered, HttpResponse& response);

// Frees the response and records that memory ran out: HttpFailed.
HttpOutcome HttpOutOfMemory(HttpResponse& response);

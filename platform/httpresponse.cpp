// HttpFetch's frame and the response, shared by the libcurl and the WinHTTP
// transport (http_curl.cpp, http_winhttp.cpp).
//
// Divisions, in order:
//   - what a fetch gathers
//   - the response: failures, keeping what was gathered, freeing
//   - HttpFetch
#include "platform/httpresponse.h"

#include <cstdlib>
#include <cstring>
#include <new>

// --- what a fetch gathers ------------------------------------------------------------------------

bool HttpGathered::AppendBody(const void* data, size_t length) {
    size_t room = maxBody - body.size();
    const auto* bytes = static_cast<const unsigned char*>(data);
    body.insert(body.end(), bytes, bytes + (length < room ? length : room));
    if (length > room) {
        bodyTooLarge = true;
        return false;
    }
    return true;
}

// --- the response --------------------------------------------------------------------------------

namespace {

// A NUL-ended copy in memory HttpFreeResponse frees, or null.
char* copyText(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

} // namespace

void SetHttpFailedCall(HttpResponse& response, const char* call) {
    std::strncpy(response.failedCall, call, sizeof response.failedCall - 1);
    response.failedCall[sizeof response.failedCall - 1] = '\0';
}

HttpOutcome HttpOutOfMemory(HttpResponse& response) {
    HttpFreeResponse(response);
    response.systemError = ERROR_NOT_ENOUGH_MEMORY;
    SetHttpFailedCall(response, "malloc");
    return HttpFailed;
}

bool KeepHttpResponse(const HttpGathered& gathered, HttpResponse& response) {
    response.status = gathered.status;
    if ((gathered.hasLocation && (response.location = copyText(gathered.location)) == nullptr) ||
        (gathered.hasContentType &&
         (response.contentType = copyText(gathered.contentType)) == nullptr)) {
        HttpOutOfMemory(response);
        return false;
    }
    if (!gathered.body.empty()) {
        response.body = static_cast<unsigned char*>(std::malloc(gathered.body.size()));
        if (response.body == nullptr) {
            HttpOutOfMemory(response);
            return false;
        }
        std::memcpy(response.body, gathered.body.data(), gathered.body.size());
        response.bodyLength = DWORD(gathered.body.size());
    }
    return true;
}

void HttpFreeResponse(HttpResponse& response) {
    std::free(response.location);
    std::free(response.contentType);
    std::free(response.body);
    response = HttpResponse{};
}

// --- HttpFetch -----------------------------------------------------------------------------------

HttpOutcome HttpFetch(const HttpGetRequest& request, HttpResponse& response) {
    response = HttpResponse{};
    if (request.url == nullptr) {
        SetHttpFailedCall(response, "HttpFetch");
        return HttpFailed;
    }
    try {
        return HttpTransportFetch(request, response);
    } catch (const std::bad_alloc&) {
        return HttpOutOfMemory(response);
    }
}

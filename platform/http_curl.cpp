// One HTTP GET over libcurl: the native transport of platform/http.h.
//
// Divisions, in order:
//   - the response: clearing, freeing, and the headers kept from it
//   - the transfer: one easy handle driven through a multi handle in slices,
//     each of which looks at the stop event and the server's silence
//   - outcomes: libcurl's result codes as HttpOutcome
//   - HttpFetch and HttpFreeResponse
//
// Where this differs from WinHTTP, and why:
// - `caFile` names the PEM file of the authorities to trust; without it,
//   OpenSSL's own store is used. WinHTTP always trusts the system's store.
// - A failure's systemError is libcurl's result code (CURLcode), and
//   failedCall names the libcurl call that gave it.
// - Proxies come from the environment (http_proxy, https_proxy) as libcurl
//   reads them, but never for loopback hosts: those are always reached
//   directly.
// - A time-out of 0 means none: libcurl's own default for connecting, no
//   limit on silence (the stop event still ends the wait).
#include "platform/winapi.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// --- the response --------------------------------------------------------------------------------

namespace {

void clearResponse(HttpResponse& response) {
    response = HttpResponse{};
}

// A NUL-ended copy in memory HttpFreeResponse frees, or null.
char* copyText(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

void setFailedCall(HttpResponse& response, const char* call) {
    std::strncpy(response.failedCall, call, sizeof response.failedCall - 1);
    response.failedCall[sizeof response.failedCall - 1] = '\0';
}

bool startsWithName(const std::string& line, const char* name) {
    size_t length = std::strlen(name);
    return line.size() > length && line[length] == ':' &&
           curl_strnequal(line.c_str(), name, length) != 0;
}

// The value of a header line "Name: value\r\n", without the spaces around it.
std::string headerValue(const std::string& line, size_t nameLength) {
    size_t begin = nameLength + 1;
    size_t end = line.size();
    while (begin < end && IsBlank(line[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankOrLineBreak(line[end - 1])) {
        --end;
    }
    return line.substr(begin, end - begin);
}

// --- the transfer --------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

constexpr long SliceMilliseconds = 50;

// What the callbacks gather while libcurl runs.
struct Transfer {
    DWORD maxBody = 0;
    std::vector<unsigned char> body;
    bool bodyTooLarge = false;
    bool outOfMemory = false;
    std::string location;
    bool hasLocation = false;
    std::string contentType;
    bool hasContentType = false;
    Clock::time_point lastHeard = Clock::now();
};

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->lastHeard = Clock::now();
    size_t room = transfer->maxBody - transfer->body.size();
    size_t taken = length < room ? length : room;
    try {
        transfer->body.insert(transfer->body.end(), data, data + taken);
    } catch (const std::bad_alloc&) {
        transfer->outOfMemory = true;
        return 0;
    }
    if (taken < length) {
        // Stopping here makes libcurl end the transfer with a write error.
        transfer->bodyTooLarge = true;
        return 0;
    }
    return length;
}

size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->lastHeard = Clock::now();
    try {
        std::string line(data, length);
        if (startsWithName(line, "Location")) {
            transfer->location = headerValue(line, std::strlen("Location"));
            transfer->hasLocation = true;
        } else if (startsWithName(line, "Content-Type")) {
            transfer->contentType = headerValue(line, std::strlen("Content-Type"));
            transfer->hasContentType = true;
        }
    } catch (const std::bad_alloc&) {
        transfer->outOfMemory = true;
        return 0;
    }
    return length;
}

// Owns the handles of one fetch.
class CurlFetch {
public:
    CurlFetch() : easy(curl_easy_init()), multi(curl_multi_init()) {}
    ~CurlFetch() {
        if (multi != nullptr && easy != nullptr && added) {
            curl_multi_remove_handle(multi, easy);
        }
        if (easy != nullptr) {
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
        }
        curl_slist_free_all(headers);
    }
    CurlFetch(const CurlFetch&) = delete;
    CurlFetch& operator=(const CurlFetch&) = delete;

    CURL* easy;
    CURLM* multi;
    curl_slist* headers = nullptr;
    bool added = false;
};

// Every host of the loopback networks, which no proxy should carry.
constexpr const char* LoopbackHosts = "localhost,127.0.0.0/8,::1";

bool setOptions(CurlFetch& fetch, const HttpGetRequest& request, Transfer& transfer,
                std::string& acceptLine) {
    CURL* easy = fetch.easy;
    // Without an Accept header of its own, libcurl sends "*/*"; an empty
    // one makes it send none.
    acceptLine = std::string("Accept:") + (request.accept != nullptr ? " " : "");
    acceptLine += request.accept != nullptr ? request.accept : "";
    fetch.headers = curl_slist_append(nullptr, acceptLine.c_str());
    if (fetch.headers == nullptr) {
        return false;
    }
    bool set = curl_easy_setopt(easy, CURLOPT_URL, request.url) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_NOPROXY, LoopbackHosts) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_USERAGENT, "hollin") == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_HTTPHEADER, fetch.headers) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(request.connectTimeout)) ==
                   CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer) == CURLE_OK;
    if (set && request.caFile != nullptr) {
        set = curl_easy_setopt(easy, CURLOPT_CAINFO, request.caFile) == CURLE_OK;
    }
    return set;
}

// Whether the connection stands (for https: with its handshake done), from
// which moment on the server's silence counts.
bool connected(CURL* easy, bool secure) {
    curl_off_t since = 0;
    CURLINFO info = secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T;
    return curl_easy_getinfo(easy, info, &since) == CURLE_OK && since > 0;
}

bool stopRequested(HANDLE stopEvent) {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// --- outcomes ------------------------------------------------------------------------------------

HttpOutcome outcomeOf(CURLcode code, const Transfer& transfer) {
    switch (code) {
    case CURLE_OK:
        return HttpDone;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpResolveFailed;
    case CURLE_COULDNT_CONNECT:
        return HttpConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpTimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return HttpTlsFailed;
    case CURLE_WRITE_ERROR:
        return transfer.bodyTooLarge ? HttpBodyTooLarge : HttpFailed;
    default:
        return HttpFailed;
    }
}

// Runs the transfer until it ends, the stop event is set, or the server has
// been silent for longer than the receive time-out.
HttpOutcome runTransfer(CurlFetch& fetch, const HttpGetRequest& request, Transfer& transfer,
                        HttpResponse& response) {
    if (curl_multi_add_handle(fetch.multi, fetch.easy) != CURLM_OK) {
        setFailedCall(response, "curl_multi_add_handle");
        return HttpFailed;
    }
    fetch.added = true;
    bool secure = std::strncmp(request.url, "https:", 6) == 0;
    bool heardSinceConnecting = false;
    for (;;) {
        if (stopRequested(request.stopEvent)) {
            return HttpStopped;
        }
        int running = 0;
        CURLMcode step = curl_multi_perform(fetch.multi, &running);
        if (step != CURLM_OK) {
            response.systemError = DWORD(step);
            setFailedCall(response, "curl_multi_perform");
            return HttpFailed;
        }
        if (running == 0) {
            break;
        }
        if (!heardSinceConnecting && connected(fetch.easy, secure)) {
            heardSinceConnecting = true;
            transfer.lastHeard = Clock::now();
        }
        if (heardSinceConnecting && request.receiveTimeout != 0 &&
            Clock::now() - transfer.lastHeard > std::chrono::milliseconds(request.receiveTimeout)) {
            response.systemError = DWORD(CURLE_OPERATION_TIMEDOUT);
            setFailedCall(response, "curl_multi_perform");
            return HttpTimedOut;
        }
        step = curl_multi_poll(fetch.multi, nullptr, 0, SliceMilliseconds, nullptr);
        if (step != CURLM_OK) {
            response.systemError = DWORD(step);
            setFailedCall(response, "curl_multi_poll");
            return HttpFailed;
        }
    }
    int left = 0;
    CURLMsg* message = curl_multi_info_read(fetch.multi, &left);
    CURLcode code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                       : CURLE_RECV_ERROR;
    if (code != CURLE_OK) {
        response.systemError = DWORD(code);
        setFailedCall(response, "curl_multi_perform");
    }
    return outcomeOf(code, transfer);
}

// Hands what the transfer gathered to the response; false when memory ran out.
bool keepResponse(CurlFetch& fetch, const Transfer& transfer, HttpResponse& response) {
    long status = 0;
    if (curl_easy_getinfo(fetch.easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
        response.status = DWORD(status);
    }
    if (transfer.hasLocation && (response.location = copyText(transfer.location)) == nullptr) {
        return false;
    }
    if (transfer.hasContentType &&
        (response.contentType = copyText(transfer.contentType)) == nullptr) {
        return false;
    }
    if (!transfer.body.empty()) {
        response.body = static_cast<unsigned char*>(std::malloc(transfer.body.size()));
        if (response.body == nullptr) {
            return false;
        }
        std::memcpy(response.body, transfer.body.data(), transfer.body.size());
        response.bodyLength = DWORD(transfer.body.size());
    }
    return true;
}

HttpOutcome outOfMemory(HttpResponse& response) {
    HttpFreeResponse(response);
    response.systemError = DWORD(CURLE_OUT_OF_MEMORY);
    setFailedCall(response, "malloc");
    return HttpFailed;
}

HttpOutcome fetch(const HttpGetRequest& request, HttpResponse& response) {
    // Once for the process, before the first handle: curl_easy_init would
    // otherwise do it itself, unsafely when two threads fetch at once.
    static const CURLcode Started = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (Started != CURLE_OK) {
        response.systemError = DWORD(Started);
        setFailedCall(response, "curl_global_init");
        return HttpUnavailable;
    }
    CurlFetch handles;
    if (handles.easy == nullptr || handles.multi == nullptr) {
        setFailedCall(response, handles.easy == nullptr ? "curl_easy_init" : "curl_multi_init");
        return HttpFailed;
    }
    Transfer transfer;
    transfer.maxBody = request.maxBody;
    std::string acceptLine;
    if (!setOptions(handles, request, transfer, acceptLine)) {
        setFailedCall(response, "curl_easy_setopt");
        return HttpFailed;
    }
    HttpOutcome outcome = runTransfer(handles, request, transfer, response);
    if (transfer.outOfMemory) {
        return outOfMemory(response);
    }
    if (outcome != HttpStopped && !keepResponse(handles, transfer, response)) {
        return outOfMemory(response);
    }
    return outcome;
}

} // namespace

// --- HttpFetch and HttpFreeResponse --------------------------------------------------------------

HttpOutcome HttpFetch(const HttpGetRequest& request, HttpResponse& response) {
    clearResponse(response);
    if (request.url == nullptr) {
        setFailedCall(response, "HttpFetch");
        return HttpFailed;
    }
    try {
        return fetch(request, response);
    } catch (const std::bad_alloc&) {
        return outOfMemory(response);
    }
}

void HttpFreeResponse(HttpResponse& response) {
    std::free(response.location);
    std::free(response.contentType);
    std::free(response.body);
    clearResponse(response);
}

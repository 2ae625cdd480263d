// One HTTP GET over libcurl: the native transport of platform/http.h.
//
// Divisions, in order:
//   - libcurl, loaded at the first fetch
//   - the headers kept from the response: Location and Content-Type
//   - the transfer: one easy handle driven through a multi handle in slices,
//     each of which looks at the stop event and the server's silence
//   - outcomes: libcurl's result codes as HttpOutcome
//   - the fetch
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
// - libcurl is loaded at the first fetch, as WinHTTP is looked up at run
//   time: with OpenSSL and its other libraries it would add milliseconds to
//   every process that loads the handler, and most pages never ask RDAP.
//   Where it cannot be loaded, the fetch answers HttpUnavailable, as where
//   WinHTTP is missing.
#include "platform/httpresponse.h"

#include <curl/curl.h>

#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <new>
#include <string>

// --- libcurl, loaded at the first fetch ----------------------------------------------------------

namespace {

// The libcurl calls this file makes, found in the library once loaded.
struct CurlApi {
    CURLcode (*globalInit)(long flags);
    CURL* (*easyInit)();
    void (*easyCleanup)(CURL* easy);
    CURLcode (*easySetopt)(CURL* easy, CURLoption option, ...);
    CURLcode (*easyGetinfo)(CURL* easy, CURLINFO info, ...);
    CURLM* (*multiInit)();
    CURLMcode (*multiCleanup)(CURLM* multi);
    CURLMcode (*multiAddHandle)(CURLM* multi, CURL* easy);
    CURLMcode (*multiRemoveHandle)(CURLM* multi, CURL* easy);
    CURLMcode (*multiPerform)(CURLM* multi, int* running);
    CURLMcode (*multiPoll)(CURLM* multi, curl_waitfd* extra, unsigned count, int timeout,
                           int* ready);
    CURLMsg* (*multiInfoRead)(CURLM* multi, int* left);
    curl_slist* (*slistAppend)(curl_slist* list, const char* text);
    void (*slistFreeAll)(curl_slist* list);
};

template <typename Function> bool find(void* library, const char* name, Function& function) {
    // Through a pointer to a function of no parameters, which may be cast to
    // any function pointer type.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(dlsym(library, name)));
    return function != nullptr;
}

// libcurl, once loaded and started. It stays loaded for the life of the
// process: libcurl and OpenSSL under it keep process-wide state (and
// per-thread state freed when threads end) that unloading would orphan.
class LoadedCurl {
public:
    LoadedCurl() {
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (library == nullptr) {
            return;
        }
        CurlApi& a = api;
        bool found = find(library, "curl_global_init", a.globalInit) &&
                     find(library, "curl_easy_init", a.easyInit) &&
                     find(library, "curl_easy_cleanup", a.easyCleanup) &&
                     find(library, "curl_easy_setopt", a.easySetopt) &&
                     find(library, "curl_easy_getinfo", a.easyGetinfo) &&
                     find(library, "curl_multi_init", a.multiInit) &&
                     find(library, "curl_multi_cleanup", a.multiCleanup) &&
                     find(library, "curl_multi_add_handle", a.multiAddHandle) &&
                     find(library, "curl_multi_remove_handle", a.multiRemoveHandle) &&
                     find(library, "curl_multi_perform", a.multiPerform) &&
                     find(library, "curl_multi_poll", a.multiPoll) &&
                     find(library, "curl_multi_info_read", a.multiInfoRead) &&
                     find(library, "curl_slist_append", a.slistAppend) &&
                     find(library, "curl_slist_free_all", a.slistFreeAll);
        // Once for the process, before the first handle: curl_easy_init
        // would otherwise do it itself, unsafely when two threads fetch at
        // once.
        started = found && a.globalInit(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }
    LoadedCurl(const LoadedCurl&) = delete;
    LoadedCurl& operator=(const LoadedCurl&) = delete;

    // The calls, or null when libcurl could not be loaded or started.
    const CurlApi* Api() const { return started ? &api : nullptr; }

private:
    CurlApi api = {};
    bool started = false;
};

const CurlApi* curlApi() {
    static const LoadedCurl Loaded;
    return Loaded.Api();
}

// The calls, once the fetch has found libcurl loaded.
const CurlApi& curl() {
    return *curlApi();
}

} // namespace

// --- the headers kept from the response ----------------------------------------------------------

namespace {

bool startsWithName(const std::string& line, const char* name) {
    size_t length = std::strlen(name);
    return line.size() > length && line[length] == ':' &&
           lstrcmpiA(line.substr(0, length).c_str(), name) == 0;
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
    HttpGathered gathered;
    bool outOfMemory = false;
    Clock::time_point lastHeard = Clock::now();
};

size_t receiveBody(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->lastHeard = Clock::now();
    try {
        // Taking less than was given makes libcurl end the transfer with a
        // write error.
        return transfer->gathered.AppendBody(data, length) ? length : 0;
    } catch (const std::bad_alloc&) {
        transfer->outOfMemory = true;
        return 0;
    }
}

size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    size_t length = size * count;
    transfer->lastHeard = Clock::now();
    try {
        std::string line(data, length);
        HttpGathered& gathered = transfer->gathered;
        if (startsWithName(line, "Location")) {
            gathered.location = headerValue(line, std::strlen("Location"));
            gathered.hasLocation = true;
        } else if (startsWithName(line, "Content-Type")) {
            gathered.contentType = headerValue(line, std::strlen("Content-Type"));
            gathered.hasContentType = true;
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
    CurlFetch() : easy(curl().easyInit()), multi(curl().multiInit()) {}
    ~CurlFetch() {
        if (multi != nullptr && easy != nullptr && added) {
            curl().multiRemoveHandle(multi, easy);
        }
        if (easy != nullptr) {
            curl().easyCleanup(easy);
        }
        if (multi != nullptr) {
            curl().multiCleanup(multi);
        }
        curl().slistFreeAll(headers);
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
    fetch.headers = curl().slistAppend(nullptr, acceptLine.c_str());
    if (fetch.headers == nullptr) {
        return false;
    }
    bool set = curl().easySetopt(easy, CURLOPT_URL, request.url) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_NOPROXY, LoopbackHosts) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_USERAGENT, "hollin") == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_HTTPHEADER, fetch.headers) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(request.connectTimeout)) ==
                   CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_WRITEFUNCTION, receiveBody) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader) == CURLE_OK &&
               curl().easySetopt(easy, CURLOPT_HEADERDATA, &transfer) == CURLE_OK;
    if (set && request.caFile != nullptr) {
        set = curl().easySetopt(easy, CURLOPT_CAINFO, request.caFile) == CURLE_OK;
    }
    return set;
}

// Whether the connection stands (for https: with its handshake done), from
// which moment on the server's silence counts.
bool connected(CURL* easy, bool secure) {
    curl_off_t since = 0;
    CURLINFO info = secure ? CURLINFO_APPCONNECT_TIME_T : CURLINFO_CONNECT_TIME_T;
    return curl().easyGetinfo(easy, info, &since) == CURLE_OK && since > 0;
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
        return transfer.gathered.bodyTooLarge ? HttpBodyTooLarge : HttpFailed;
    default:
        return HttpFailed;
    }
}

// Runs the transfer until it ends, the stop event is set, or the server has
// been silent for longer than the receive time-out.
HttpOutcome runTransfer(CurlFetch& fetch, const HttpGetRequest& request, Transfer& transfer,
                        HttpResponse& response) {
    if (curl().multiAddHandle(fetch.multi, fetch.easy) != CURLM_OK) {
        SetHttpFailedCall(response, "curl_multi_add_handle");
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
        CURLMcode step = curl().multiPerform(fetch.multi, &running);
        if (step != CURLM_OK) {
            response.systemError = DWORD(step);
            SetHttpFailedCall(response, "curl_multi_perform");
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
            SetHttpFailedCall(response, "curl_multi_perform");
            return HttpTimedOut;
        }
        step = curl().multiPoll(fetch.multi, nullptr, 0, SliceMilliseconds, nullptr);
        if (step != CURLM_OK) {
            response.systemError = DWORD(step);
            SetHttpFailedCall(response, "curl_multi_poll");
            return HttpFailed;
        }
    }
    int left = 0;
    CURLMsg* message = curl().multiInfoRead(fetch.multi, &left);
    CURLcode code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                       : CURLE_RECV_ERROR;
    if (code != CURLE_OK) {
        response.systemError = DWORD(code);
        SetHttpFailedCall(response, "curl_multi_perform");
    }
    return outcomeOf(code, transfer);
}

} // namespace

// --- the fetch -----------------------------------------------------------------------------------

HttpOutcome HttpTransportFetch(const HttpGetRequest& request, HttpResponse& response) {
    if (curlApi() == nullptr) {
        SetHttpFailedCall(response, "dlopen(libcurl.so.4)");
        return HttpUnavailable;
    }
    CurlFetch handles;
    if (handles.easy == nullptr || handles.multi == nullptr) {
        SetHttpFailedCall(response, handles.easy == nullptr ? "curl_easy_init" : "curl_multi_init");
        return HttpFailed;
    }
    Transfer transfer;
    transfer.gathered.maxBody = request.maxBody;
    std::string acceptLine;
    if (!setOptions(handles, request, transfer, acceptLine)) {
        SetHttpFailedCall(response, "curl_easy_setopt");
        return HttpFailed;
    }
    HttpOutcome outcome = runTransfer(handles, request, transfer, response);
    if (transfer.outOfMemory) {
        return HttpOutOfMemory(response);
    }
    if (outcome == HttpStopped) {
        return outcome;
    }
    long status = 0;
    if (curl().easyGetinfo(handles.easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
        transfer.gathered.status = DWORD(status);
    }
    return KeepHttpResponse(transfer.gathered, response) ? outcome : HttpFailed;
}

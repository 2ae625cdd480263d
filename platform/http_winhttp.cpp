// One HTTP GET over WinHTTP: the Windows transport of platform/http.h.
//
// Divisions, in order:
//   - finding WinHTTP: winhttp.dll from the system directory only, and its
//     functions by name, so that the library loads where it is missing
//   - the fetch's state, shared by the caller and the fetch's thread
//   - the fetch: WinHTTP's synchronous calls, on a thread of their own
//   - outcomes: WinHTTP's errors as HttpOutcome
//   - HttpTransportFetch: the thread started and waited for
//
// Why a thread: WinHTTP's synchronous calls block for as long as their
// time-outs allow, and the stop event must end a fetch within a slice. So the
// calls run on a thread that holds a reference to this module and shares the
// fetch's state; HttpFetch waits for it or for the stop event. When the event
// comes first, HttpFetch returns at once and leaves the state to the thread,
// which gives up at its next step (at the latest when its call's time-out
// runs out), frees the state and lets the module go. Closing the request
// handle from the waiting thread would end the call sooner, but a closed
// handle's value can be handed out again to another fetch while the thread
// still uses it.
//
// Where this differs from libcurl:
// - The system's certificate store is always used; `caFile` is ignored.
// - A failure's systemError is GetLastError's code, and failedCall names the
//   WinHTTP call that failed.
// - WinHTTP's default proxy (the one netsh sets) is used, never for loopback
//   hosts.
// - A time-out of 0 means none, as WinHTTP takes it.
#include "platform/httpresponse.h"

#include <winhttp.h>

#include <new>
#include <string>

// --- finding WinHTTP -----------------------------------------------------------------------------

namespace {

// Through a pointer to a function of no parameters, which may be cast to
// any function pointer type.
template <typename Function> bool find(HMODULE module, const char* name, Function& function) {
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return function != nullptr;
}

struct WinHttp {
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpCrackUrl) crackUrl = nullptr;
    decltype(&::WinHttpConnect) connect = nullptr;
    decltype(&::WinHttpOpenRequest) openRequest = nullptr;
    decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
    decltype(&::WinHttpSetOption) setOption = nullptr;
    decltype(&::WinHttpSendRequest) sendRequest = nullptr;
    decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
    decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
    decltype(&::WinHttpReadData) readData = nullptr;
    decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
    DWORD loadError = 0; // why it is missing, when it is

    bool Available() const { return loadError == 0; }
};

WinHttp findWinHttp() {
    WinHttp api;
    HMODULE module = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        api.loadError = GetLastError();
        return api;
    }
    if (!find(module, "WinHttpOpen", api.open) || !find(module, "WinHttpCrackUrl", api.crackUrl) ||
        !find(module, "WinHttpConnect", api.connect) ||
        !find(module, "WinHttpOpenRequest", api.openRequest) ||
        !find(module, "WinHttpSetTimeouts", api.setTimeouts) ||
        !find(module, "WinHttpSetOption", api.setOption) ||
        !find(module, "WinHttpSendRequest", api.sendRequest) ||
        !find(module, "WinHttpReceiveResponse", api.receiveResponse) ||
        !find(module, "WinHttpQueryHeaders", api.queryHeaders) ||
        !find(module, "WinHttpReadData", api.readData) ||
        !find(module, "WinHttpCloseHandle", api.closeHandle)) {
        api.loadError = ERROR_PROC_NOT_FOUND;
    }
    // The library stays loaded for the life of the process.
    return api;
}

const WinHttp& winHttp() {
    static const WinHttp Api = findWinHttp();
    return Api;
}

// --- the fetch's state ---------------------------------------------------------------------------

// Owned by the caller and the fetch's thread together; the last to let go
// frees it.
struct Fetch {
    // What to fetch.
    std::wstring url;
    std::wstring headers;
    DWORD connectTimeout = 0;
    DWORD receiveTimeout = 0;

    // What came back.
    HttpOutcome outcome = HttpFailed;
    HttpGathered gathered;
    DWORD systemError = 0;
    const char* failedCall = "";

    HANDLE done = nullptr;    // set by the thread when the fields above are final
    LONG abandoned = 0;       // set by the caller when it stopped waiting
    LONG references = 2;      // the caller and the thread
    HMODULE module = nullptr; // this module, held while the thread runs

    ~Fetch() {
        if (done != nullptr) {
            CloseHandle(done);
        }
    }
};

void release(Fetch* fetch) {
    if (InterlockedDecrement(&fetch->references) == 0) {
        delete fetch;
    }
}

bool abandoned(Fetch& fetch) {
    return InterlockedCompareExchange(&fetch.abandoned, 0, 0) != 0;
}

// An ASCII or UTF-8 text in UTF-16; false when memory runs out.
bool widen(const char* text, std::wstring& wide) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.resize(size_t(length));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], length);
    wide.resize(size_t(length) - 1);
    return true;
}

std::string narrow(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string text(size_t(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), &text[0], length, nullptr,
                            nullptr);
    }
    return text;
}

// --- outcomes ------------------------------------------------------------------------------------

// Wine's WinHTTP reports some failures with the socket's own code, where
// Windows gives WinHTTP's.
HttpOutcome outcomeOf(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return HttpResolveFailed;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return HttpConnectFailed;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return HttpTimedOut;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return HttpTlsFailed;
    default:
        return HttpFailed;
    }
}

// Records a failed call with GetLastError's code; returns false.
bool failed(Fetch& fetch, const char* call) {
    fetch.systemError = GetLastError();
    fetch.failedCall = call;
    fetch.outcome = outcomeOf(fetch.systemError);
    return false;
}

// --- the fetch -----------------------------------------------------------------------------------

// The handles of one fetch, closed in the reverse order of their opening.
class Handles {
public:
    ~Handles() {
        for (HINTERNET handle : {request, connection, session}) {
            if (handle != nullptr) {
                winHttp().closeHandle(handle);
            }
        }
    }

    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
};

bool isLoopbackHost(const std::wstring& host) {
    return host == L"localhost" || host.compare(0, 4, L"127.") == 0 || host == L"[::1]" ||
           host == L"::1";
}

bool openRequest(Fetch& fetch, Handles& handles) {
    const WinHttp& api = winHttp();
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = DWORD(-1);
    parts.dwUrlPathLength = DWORD(-1);
    parts.dwExtraInfoLength = DWORD(-1);
    if (!api.crackUrl(fetch.url.c_str(), 0, 0, &parts)) {
        return failed(fetch, "WinHttpCrackUrl");
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
        return failed(fetch, "WinHttpCrackUrl");
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    DWORD access =
        isLoopbackHost(host) ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    handles.session =
        api.open(L"hollin", access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (handles.session == nullptr) {
        return failed(fetch, "WinHttpOpen");
    }
    handles.connection = api.connect(handles.session, host.c_str(), parts.nPort, 0);
    if (handles.connection == nullptr) {
        return failed(fetch, "WinHttpConnect");
    }
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    handles.request = api.openRequest(handles.connection, L"GET", path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (handles.request == nullptr) {
        return failed(fetch, "WinHttpOpenRequest");
    }
    // The caller follows redirects itself, by its own rules.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    if (!api.setOption(handles.request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                       sizeof disabled)) {
        return failed(fetch, "WinHttpSetOption");
    }
    int connect = int(fetch.connectTimeout);
    int receive = int(fetch.receiveTimeout);
    if (!api.setTimeouts(handles.request, connect, connect, receive, receive)) {
        return failed(fetch, "WinHttpSetTimeouts");
    }
    // The wait for the response's headers has a time-out of its own, which
    // is not always the receive time-out's (under Wine it is none at all).
    DWORD headersTimeout = fetch.receiveTimeout;
    if (!api.setOption(handles.request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout,
                       sizeof headersTimeout)) {
        return failed(fetch, "WinHttpSetOption");
    }
    return true;
}

// A header as text; false when the response has none.
bool queryHeader(HINTERNET request, DWORD which, std::string& value) {
    DWORD bytes = 0;
    winHttp().queryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                           &bytes, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) {
        return false;
    }
    std::wstring text(bytes / sizeof(WCHAR) + 1, L'\0');
    if (!winHttp().queryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &bytes,
                                WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    text.resize(bytes / sizeof(WCHAR));
    value = narrow(text);
    return true;
}

bool receiveHeaders(Fetch& fetch, HINTERNET request) {
    const WinHttp& api = winHttp();
    if (!api.sendRequest(request, fetch.headers.c_str(), DWORD(-1), WINHTTP_NO_REQUEST_DATA, 0, 0,
                         0)) {
        return failed(fetch, "WinHttpSendRequest");
    }
    if (!api.receiveResponse(request, nullptr)) {
        return failed(fetch, "WinHttpReceiveResponse");
    }
    HttpGathered& gathered = fetch.gathered;
    DWORD size = sizeof gathered.status;
    if (!api.queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &gathered.status, &size,
                          WINHTTP_NO_HEADER_INDEX)) {
        return failed(fetch, "WinHttpQueryHeaders");
    }
    gathered.hasLocation = queryHeader(request, WINHTTP_QUERY_LOCATION, gathered.location);
    gathered.hasContentType =
        queryHeader(request, WINHTTP_QUERY_CONTENT_TYPE, gathered.contentType);
    return true;
}

bool receiveBody(Fetch& fetch, HINTERNET request) {
    unsigned char chunk[16384];
    for (;;) {
        if (abandoned(fetch)) {
            return false;
        }
        DWORD got = 0;
        if (!winHttp().readData(request, chunk, sizeof chunk, &got)) {
            return failed(fetch, "WinHttpReadData");
        }
        if (got == 0) {
            fetch.outcome = HttpDone;
            return true;
        }
        if (!fetch.gathered.AppendBody(chunk, got)) {
            fetch.outcome = HttpBodyTooLarge;
            return true;
        }
    }
}

void run(Fetch& fetch) {
    Handles handles;
    try {
        if (openRequest(fetch, handles) && !abandoned(fetch) &&
            receiveHeaders(fetch, handles.request)) {
            receiveBody(fetch, handles.request);
        }
    } catch (const std::bad_alloc&) {
        fetch.outcome = HttpFailed;
        fetch.systemError = ERROR_NOT_ENOUGH_MEMORY;
        fetch.failedCall = "operator new";
    }
}

DWORD WINAPI fetchThread(LPVOID parameter) {
    auto* fetch = static_cast<Fetch*>(parameter);
    HMODULE module = fetch->module;
    run(*fetch);
    SetEvent(fetch->done);
    release(fetch);
    // The module may be unloaded as soon as this thread lets go of it.
    FreeLibraryAndExitThread(module, 0);
}

// Starts the fetch's thread, which then holds its own reference to the
// state and to this module; false (with the failing call recorded) when it
// cannot start.
bool startThread(Fetch& fetch, HttpResponse& response) {
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&fetchThread), &fetch.module)) {
        response.systemError = GetLastError();
        SetHttpFailedCall(response, "GetModuleHandleExW");
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, fetchThread, &fetch, 0, nullptr);
    if (thread == nullptr) {
        response.systemError = GetLastError();
        SetHttpFailedCall(response, "CreateThread");
        FreeLibrary(fetch.module);
        return false;
    }
    CloseHandle(thread);
    return true;
}

// Waits for the thread (WAIT_OBJECT_0) or the stop event (WAIT_OBJECT_0 + 1).
DWORD waitForThread(Fetch& fetch, HANDLE stopEvent) {
    HANDLE events[2] = {fetch.done, stopEvent};
    DWORD count = stopEvent != nullptr ? 2 : 1;
    return WaitForMultipleObjects(count, events, FALSE, INFINITE);
}

bool stopRequested(HANDLE stopEvent) {
    return stopEvent != nullptr && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

// Fills the fetch's state from the request; false when memory runs out.
bool describe(const HttpGetRequest& request, Fetch& fetch) {
    try {
        std::wstring accept;
        if (!widen(request.url, fetch.url) ||
            (request.accept != nullptr && !widen(request.accept, accept))) {
            return false;
        }
        if (request.accept != nullptr) {
            fetch.headers = L"Accept: " + accept + L"\r\n";
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    fetch.connectTimeout = request.connectTimeout;
    fetch.receiveTimeout = request.receiveTimeout;
    fetch.gathered.maxBody = request.maxBody;
    fetch.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return fetch.done != nullptr;
}

} // namespace

// --- HttpTransportFetch --------------------------------------------------------------------------

HttpOutcome HttpTransportFetch(const HttpGetRequest& request, HttpResponse& response) {
    const WinHttp& api = winHttp();
    if (!api.Available()) {
        response.systemError = api.loadError;
        SetHttpFailedCall(response, "LoadLibraryExW");
        return HttpUnavailable;
    }
    if (stopRequested(request.stopEvent)) {
        return HttpStopped;
    }
    auto* fetch = new (std::nothrow) Fetch;
    if (fetch == nullptr) {
        return HttpOutOfMemory(response);
    }
    if (!describe(request, *fetch)) {
        delete fetch;
        return HttpOutOfMemory(response);
    }
    if (!startThread(*fetch, response)) {
        delete fetch;
        return HttpFailed;
    }
    HttpOutcome outcome = HttpStopped;
    DWORD waited = waitForThread(*fetch, request.stopEvent);
    if (waited == WAIT_OBJECT_0) {
        response.systemError = fetch->systemError;
        SetHttpFailedCall(response, fetch->failedCall);
        outcome = KeepHttpResponse(fetch->gathered, response) ? fetch->outcome : HttpFailed;
    } else {
        InterlockedExchange(&fetch->abandoned, 1);
        if (waited != WAIT_OBJECT_0 + 1) {
            response.systemError = GetLastError();
            SetHttpFailedCall(response, "WaitForMultipleObjects");
            outcome = HttpFailed;
        }
    }
    release(fetch);
    return outcome;
}

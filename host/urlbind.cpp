// urlbind: binds a URL the way a browser does on Windows, through urlmon, and
// writes the bytes it gets. It is the Windows counterpart of dnswhois: with
// hollin registered, urlmon finds hollin through the URL's scheme.
//
//   urlbind [--output FILE] [--timeout MS] URL
//
// A URL moniker, an asynchronous bind context and BindToStorage for an
// IStream with BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA; the
// thread pumps messages until OnStopBinding.
#include <windows.h>
#include <shellapi.h>
#include <urlmon.h>

#include "CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char usage[] =
    "usage: urlbind [--output FILE] [--timeout MS] URL\n"
    "Binds URL through urlmon as a browser does and writes the bytes it gets to\n"
    "standard output (or FILE).\n"
    "  --output FILE  write the bytes to FILE\n"
    "  --timeout MS   give up when the binding has not ended after MS milliseconds\n"
    "                 (default 30000)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n"
    "Exit status: 0 when the binding ended with success, 1 when it failed or\n"
    "timed out, 2 for bad usage.\n";

// Receives urlmon's notifications and pulls the data as it becomes available.
class BindCallback : public IBindStatusCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
            *out = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) override {
        Drain();
        stopResult = result;
        stopped = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
        *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
        ULONG size = info->cbSize;
        std::memset(info, 0, size);
        info->cbSize = size;
        info->dwBindVerb = BINDVERB_GET;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*,
                                              STGMEDIUM* medium) override {
        if (stream == nullptr && medium != nullptr && medium->tymed == TYMED_ISTREAM &&
            medium->pstm != nullptr) {
            stream = medium->pstm;
            stream->AddRef();
        }
        Drain();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    void ReleaseStream() {
        if (stream != nullptr) {
            stream->Release();
            stream = nullptr;
        }
    }

    std::string data;
    bool stopped = false;
    HRESULT stopResult = E_PENDING;

private:
    // Reads what the stream has now; E_PENDING means more is to come.
    void Drain() {
        if (stream == nullptr) {
            return;
        }
        char buffer[4096];
        for (;;) {
            ULONG count = 0;
            HRESULT result = stream->Read(buffer, sizeof buffer, &count);
            data.append(buffer, count);
            if (result != S_OK || count == 0) {
                break;
            }
        }
    }

    LONG references = 1;
    IStream* stream = nullptr;
};

const char Program[] = "urlbind";

struct Options {
    const char* url = nullptr;
    int urlIndex = 0; // its place on the command line
    const char* output = nullptr;
    DWORD timeout = 30000;
};

enum OptionKey { OutputOption = 256, TimeoutOption, VersionOption };

const option LongOptions[] = {
    {"output", required_argument, nullptr, OutputOption},
    {"timeout", required_argument, nullptr, TimeoutOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

// Returns -1 when the options are good, else the exit status.
int parseArguments(int argc, char** argv, Options& options) {
    // getopt_long may reorder argv; the URL's place on the original command
    // line is what its wide form is found by.
    std::vector<char*> original(argv, argv + argc);
    long timeout = 0;
    for (int key; (key = commandline::NextOption(argc, argv, "h", LongOptions)) != -1;) {
        switch (key) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case VersionOption:
            return commandline::PrintVersion(Program);
        case OutputOption:
            options.output = optarg;
            break;
        case TimeoutOption:
            if (!commandline::ReadNumber(optarg, 1, 86400000, timeout)) {
                return commandline::UsageError(Program,
                                               "--timeout wants milliseconds, from 1 to 86400000");
            }
            options.timeout = DWORD(timeout);
            break;
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    if (argc - optind != 1) {
        return commandline::UsageError(Program, optind == argc ? "no URL given" : "one URL only");
    }
    options.url = argv[optind];
    options.urlIndex =
        int(std::find(original.begin(), original.end(), options.url) - original.begin());
    return -1;
}

std::wstring widen(const char* text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? size_t(size) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

// Argument `index` of the wide command line: the narrow one has been through
// the ANSI code page, which has no room for most of the world's letters.
std::wstring wideArgument(int index, const char* narrow) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring argument =
        arguments != nullptr && index < count ? std::wstring(arguments[index]) : widen(narrow);
    LocalFree(arguments);
    return argument;
}

// Pumps the thread's messages (urlmon delivers its notifications through
// them) until the binding stops or the time runs out.
bool pumpUntilStopped(const BindCallback& callback, DWORD timeout) {
    DWORD start = GetTickCount();
    while (!callback.stopped) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

bool writeAll(const std::string& data, const char* path) {
    FILE* file = path != nullptr ? std::fopen(path, "wb") : stdout;
    if (file == nullptr) {
        std::fprintf(stderr, "urlbind: cannot write %s\n", path);
        return false;
    }
    bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (path != nullptr) {
        written = std::fclose(file) == 0 && written;
    } else {
        written = std::fflush(file) == 0 && written;
    }
    return written;
}

int bind(const Options& options) {
    std::wstring url = wideArgument(options.urlIndex, options.url);
    IMoniker* moniker = nullptr;
    HRESULT result = CreateURLMonikerEx(nullptr, url.c_str(), &moniker, URL_MK_UNIFORM);
    if (FAILED(result)) {
        std::fprintf(stderr, "urlbind: no URL moniker for %s (0x%08lX)\n", options.url, result);
        return 1;
    }
    BindCallback callback;
    IBindCtx* context = nullptr;
    result = CreateAsyncBindCtx(0, &callback, nullptr, &context);
    if (FAILED(result)) {
        moniker->Release();
        std::fprintf(stderr, "urlbind: no bind context (0x%08lX)\n", result);
        return 1;
    }
    IStream* stream = nullptr;
    result =
        moniker->BindToStorage(context, nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
    if (stream != nullptr) {
        stream->Release(); // the data is pulled through the callback's stream
    }
    bool ended = SUCCEEDED(result) && pumpUntilStopped(callback, options.timeout);
    callback.ReleaseStream();
    context->Release();
    moniker->Release();
    if (FAILED(result)) {
        std::fprintf(stderr, "urlbind: binding %s failed (0x%08lX)\n", options.url, result);
        return 1;
    }
    if (!ended) {
        std::fprintf(stderr, "urlbind: no end of binding within %lu ms\n", options.timeout);
        return 1;
    }
    if (FAILED(callback.stopResult)) {
        std::fprintf(stderr, "urlbind: binding ended with 0x%08lX\n", callback.stopResult);
        return 1;
    }
    return writeAll(callback.data, options.output) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseArguments(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    if (FAILED(CoInitialize(nullptr))) {
        std::fprintf(stderr, "urlbind: COM cannot be initialised\n");
        return 1;
    }
    status = bind(options);
    CoUninitialize();
    return status;
}

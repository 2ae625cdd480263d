// dnswhois: plays the browser on Linux. It loads a protocol handler library,
// drives one of its protocol objects through a whole request, as a browser
// does through the library's exports alone, and writes the page it reads.
#include "platform/winapi.h"
#include "protocol/Identifiers.h"

#include "CommandLine.h"
#include "OpenInBrowser.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace {

const char Usage[] =
    "usage: dnswhois [OPTION]... URL\n"
    "       dnswhois [OPTION]... QUERY        (the same as dnswhois:QUERY)\n"
    "\n"
    "Plays the browser: finds the protocol handler of the URL's scheme in the\n"
    "registry as a browser does (HKEY_CLASSES_ROOT\\PROTOCOLS\\Handler\\SCHEME\n"
    "\"CLSID\", then that class's InprocServer32 library), or loads the library\n"
    "PATH, asks its DllGetClassObject for the class object of the handler\n"
    "(%s with --library), creates one protocol\n"
    "object, starts\n"
    "it on URL with a sink of its own (which takes the completion from any thread),\n"
    "waits for ReportResult, then LockRequest, Read until S_FALSE, UnlockRequest,\n"
    "releases everything and asks DllCanUnloadNow (when it has not answered S_OK\n"
    "within 2 seconds, that is a warning on standard error). The page bytes go out\n"
    "exactly as Read hands them out: to standard output as they are read (a call\n"
    "that fails midway leaves what came before it there), to a file once the page\n"
    "is whole. When the registry names no handler for the\n"
    "dnswhois scheme, the installed library handles it (%s,\n"
    "from this program's folder).\n"
    "\n"
    "  --library PATH    load this handler library instead of the registered one\n"
    "  --abort-after MS  when no completion has come within MS milliseconds, call\n"
    "                    Abort(E_ABORT, 0), write no page and exit with status 3\n"
    "  --output FILE     write the page to FILE instead of standard output\n"
    "  --open            write the page to a new private file (in $XDG_RUNTIME_DIR,\n"
    "                    else $TMPDIR or /tmp) and open it in the browser: the\n"
    "                    commands of $BROWSER (colon-separated, %%s is the file),\n"
    "                    else xdg-open\n"
    "  --trace           tell on standard error each call the handler makes on the\n"
    "                    sink, and on which thread\n"
    "  -h, --help        this text\n"
    "  --version         the version\n"
    "\n"
    "An argument without a scheme (letters, digits, +, - or . before a colon) is\n"
    "a QUERY. URL is UTF-8, e.g. dnswhois://127.0.0.1:4343/example.com\n"
    "The registry is the file HOLLIN_REGISTRY names (by default\n"
    "$XDG_DATA_HOME/hollin/registry.reg); regsvr LIBRARY registers a library.\n"
    "\n"
    "Exit status:\n"
    "  0  a page was read, whatever the request's outcome (failures are pages too)\n"
    "  1  no handler is registered for the scheme, the library cannot be loaded,\n"
    "     lacks DllGetClassObject, its class cannot be\n"
    "     created, a protocol call fails, or the page cannot be written\n"
    "  2  bad usage\n"
    "  3  aborted after --abort-after MS\n"
    "  4  the page was read but the browser could not be given it (--open)\n";

enum ExitStatus { PageRead = 0, HandlerFailed = 1, BadUsage = 2, Aborted = 3, NotOpened = 4 };

#ifndef HOLLIN_LIBRARY_FROM_BIN
#error "HOLLIN_LIBRARY_FROM_BIN is where the installed library lies, seen from the programs' folder"
#endif
// The library installed with this program, from the program's folder.
const char InstalledLibrary[] = HOLLIN_LIBRARY_FROM_BIN;

// How long DllCanUnloadNow may take to answer S_OK once everything is released.
const int UnloadWaitMs = 2000;
// hollin's pages hold at most 64 KiB; a larger one only grows the text.
const size_t ExpectedPageSize = 65536 + 4096;

typedef HRESULT(STDAPICALLTYPE* DllGetClassObjectFunction)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* DllCanUnloadNowFunction)();

struct Options {
    std::string library;
    long abortAfterMs = -1; // -1: wait as long as it takes
    std::string output;     // empty: standard output
    bool open = false;      // hand the page to the browser
    bool trace = false;
    std::string url;
    std::u16string wideUrl; // what Start gets
};

// --- small helpers ----------------------------------------------------------

using uchar = unsigned char;

std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(result));
    return text;
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "dnswhois: %s\n", message.c_str());
    return status;
}

void warn(const std::string& message) {
    std::fprintf(stderr, "dnswhois: warning: %s\n", message.c_str());
}

bool toWide(const std::string& utf8, std::u16string& wide) {
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (count <= 0) {
        return false;
    }
    wide.assign(size_t(count), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], count);
    wide.resize(size_t(count) - 1); // the terminator stays implicit
    return true;
}

std::string toUtf8(LPCWSTR wide) {
    if (wide == nullptr) {
        return "null";
    }
    int count = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 0) {
        return "?";
    }
    std::string utf8(size_t(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], count, nullptr, nullptr);
    utf8.resize(size_t(count) - 1);
    return '"' + utf8 + '"';
}

// Holds one COM reference and gives it back when it goes.
template <typename Interface> class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    void** Out() { return reinterpret_cast<void**>(&pointer); }
    Interface* operator->() const { return pointer; }
    Interface* Get() const { return pointer; }
    void Reset() {
        if (pointer != nullptr) {
            pointer->Release();
            pointer = nullptr;
        }
    }

private:
    Interface* pointer = nullptr;
};

// --- the options ------------------------------------------------------------

const char Program[] = "dnswhois";

// A URL begins with a scheme (RFC 3986: a letter, then letters, digits, "+",
// "-" or ".") and a colon; anything else is a query for the dnswhois scheme.
std::string urlOf(const std::string& argument) {
    size_t colon = argument.find(':');
    bool scheme = colon != std::string::npos && colon > 0 && std::isalpha(uchar(argument[0]));
    for (size_t i = 1; scheme && i < colon; ++i) {
        scheme = std::isalnum(uchar(argument[i])) || std::strchr("+-.", argument[i]) != nullptr;
    }
    return scheme ? argument : "dnswhois:" + argument;
}

enum OptionKey {
    LibraryOption = 256,
    AbortAfterOption,
    OutputOption,
    OpenOption,
    TraceOption,
    VersionOption
};

const option LongOptions[] = {
    {"library", required_argument, nullptr, LibraryOption},
    {"abort-after", required_argument, nullptr, AbortAfterOption},
    {"output", required_argument, nullptr, OutputOption},
    {"open", no_argument, nullptr, OpenOption},
    {"trace", no_argument, nullptr, TraceOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

// Returns -1 when the options are good, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int key; (key = commandline::NextOption(argc, argv, "h", LongOptions)) != -1;) {
        switch (key) {
        case 'h':
            std::printf(Usage, HandlerClassIdText, InstalledLibrary);
            return PageRead;
        case VersionOption:
            return commandline::PrintVersion(Program);
        case LibraryOption:
            options.library = commandline::AbsolutePath(optarg);
            break;
        case OutputOption:
            options.output = optarg;
            break;
        case OpenOption:
            options.open = true;
            break;
        case TraceOption:
            options.trace = true;
            break;
        case AbortAfterOption:
            if (!commandline::ReadNumber(optarg, 0, 86400000, options.abortAfterMs)) {
                return commandline::UsageError(
                    Program, "--abort-after wants milliseconds, from 0 to 86400000");
            }
            break;
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    if (optind == argc) {
        return commandline::UsageError(Program, "no URL given");
    }
    if (argc - optind > 1) {
        return commandline::UsageError(Program, std::string("one URL only: ") + argv[optind + 1] +
                                                    " is one too many");
    }
    if (options.open && !options.output.empty()) {
        return commandline::UsageError(Program, "--open and --output exclude each other");
    }
    options.url = urlOf(argv[optind]);
    if (!toWide(options.url, options.wideUrl)) {
        return commandline::UsageError(Program, "the URL cannot be converted to UTF-16");
    }
    return -1;
}

// --- finding and loading the handler ------------------------------------------

// The library that handles the URL, and its class.
struct Handler {
    std::string library;
    CLSID classId;
};

// A value of type REG_SZ under HKEY_CLASSES_ROOT, read whole; false when the
// key or value is missing or is no text.
bool readRegistryText(const std::string& path, const char* name, std::string& text,
                      std::string& error) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS) {
        error = "HKEY_CLASSES_ROOT\\" + path +
                (result == ERROR_FILE_NOT_FOUND
                     ? " is not in the registry"
                     : " cannot be read (error " + std::to_string(result) + ")");
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    std::string value(size, '\0');
    if (result == ERROR_SUCCESS && size > 0) {
        result =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size);
    }
    RegCloseKey(key);
    std::string shown = name != nullptr ? std::string("\"") + name + "\"" : "the default value";
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        error = "HKEY_CLASSES_ROOT\\" + path + " has no text " + shown;
        return false;
    }
    text.assign(value.c_str()); // up to the terminating NUL
    return true;
}

// A class identifier's registry text ("{...}") to a CLSID.
bool parseClassId(const std::string& text, CLSID& classId) {
    std::u16string wide(text.begin(), text.end());
    return CLSIDFromString(wide.c_str(), &classId) == S_OK;
}

// The library installed beside this program, when it is there.
bool findInstalledLibrary(std::string& path) {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return false;
    }
    std::filesystem::path library = (program.parent_path() / InstalledLibrary).lexically_normal();
    path = library.string();
    return std::filesystem::is_regular_file(library, error);
}

// Finds the handler of the URL's scheme as urlmon does: the scheme's
// PROTOCOLS\Handler key names the class, and the class's InprocServer32 key
// names the library. Where the registry names no handler for the dnswhois
// scheme (never registered, or unregistered), the installed library serves it.
bool lookUpHandler(const std::string& url, Handler& handler, std::string& error) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) {
        error = "the URL has no scheme to look a handler up for";
        return false;
    }
    std::string scheme = url.substr(0, colon);
    std::string classText;
    bool named = readRegistryText("PROTOCOLS\\Handler\\" + scheme, "CLSID", classText, error);
    if ((!named || classText.empty()) && scheme == "dnswhois" &&
        findInstalledLibrary(handler.library)) {
        handler.classId = CLSID_LocalFileProtocol;
        return true;
    }
    if (!named) {
        error = "no handler is registered for the scheme \"" + scheme + "\": " + error;
        return false;
    }
    if (!parseClassId(classText, handler.classId)) {
        error = "the handler of the scheme \"" + scheme + "\" names no class (CLSID \"" +
                classText + "\"); is it unregistered?";
        return false;
    }
    if (!readRegistryText("CLSID\\" + classText + "\\InprocServer32", nullptr, handler.library,
                          error) ||
        handler.library.empty()) {
        error = "the handler class " + classText + " of the scheme \"" + scheme +
                "\" has no library: " + (error.empty() ? "its path is empty" : error);
        return false;
    }
    return true;
}

// Where the handler lives: the library named by --library, or the one the
// registry names for the URL's scheme.
bool findHandler(const Options& options, Handler& handler, std::string& error) {
    if (options.library.empty()) {
        return lookUpHandler(options.url, handler, error);
    }
    handler.library = options.library;
    handler.classId = CLSID_LocalFileProtocol;
    return true;
}

// The loaded library and its exports. It is never unloaded: a request the
// handler cut loose may still run its code when the host is done, and the
// end of the process ends that too.
struct HandlerLibrary {
    DllGetClassObjectFunction getClassObject = nullptr;
    DllCanUnloadNowFunction canUnloadNow = nullptr; // optional, as for COM

    bool Load(const std::string& path, std::string& error) {
        HMODULE library = LoadLibraryA(path.c_str());
        if (library == nullptr) {
            const char* reason = dlerror();
            error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error");
            return false;
        }
        getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
            GetProcAddress(library, "DllGetClassObject"));
        canUnloadNow =
            reinterpret_cast<DllCanUnloadNowFunction>(GetProcAddress(library, "DllCanUnloadNow"));
        if (getClassObject == nullptr) {
            error = path + " does not export DllGetClassObject";
            return false;
        }
        return true;
    }
};

// --- what the handler calls back ------------------------------------------------

// The IUnknown of the host's own objects: one interface, a count that any
// thread may change, and the object deleted at the last Release. It starts
// with the creator's reference.
template <typename Object, typename Interface, const IID& InterfaceIid>
class HostObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, InterfaceIid)) {
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<Interface*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references;
        if (left == 0) {
            delete static_cast<Object*>(this);
        }
        return left;
    }

private:
    std::atomic<ULONG> references{1};
};

// The host's sink. The handler calls it from its worker thread, or from
// inside Start on the host's thread when the URL has a syntax error, so all
// it keeps is guarded. It lives as long as anyone holds a reference.
class CompletionSink final
    : public HostObject<CompletionSink, IInternetProtocolSink, IID_IInternetProtocolSink> {
public:
    explicit CompletionSink(bool trace) : trace(trace) {}

    HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA*) override {
        Trace([] { return std::string("Switch"); });
        return E_NOTIMPL; // this host has no apartment to switch to
    }
    HRESULT STDMETHODCALLTYPE ReportProgress(ULONG statusCode, LPCWSTR statusText) override {
        Trace([&] {
            return "ReportProgress(" + std::to_string(statusCode) + ", " + toUtf8(statusText) + ")";
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReportData(DWORD flags, ULONG progress, ULONG progressMax) override {
        Trace([&] {
            return "ReportData(" + hex(HRESULT(flags)) + ", " + std::to_string(progress) + ", " +
                   std::to_string(progressMax) + ")";
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReportResult(HRESULT result, DWORD error, LPCWSTR text) override {
        Trace([&] {
            return "ReportResult(" + hex(result) + ", " + std::to_string(error) + ", " +
                   toUtf8(text) + ")";
        });
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!completed) {
                completed = true;
                outcome = result;
            }
        }
        // Once the lock is let go: the host's thread does not wake only to
        // wait for it. The handler holds this sink until the call returns.
        done.notify_all();
        return S_OK;
    }

    // Around the host's call of Start, so that the trace can tell a
    // completion reported from inside it.
    void SetInsideStart(bool inside) { insideStart = inside; }

    // Waits for ReportResult; -1 waits without a limit. The first result
    // reported is kept in `result`.
    bool WaitForCompletion(long timeoutMs, HRESULT& result) {
        std::unique_lock<std::mutex> guard(lock);
        auto isDone = [this] { return completed; };
        if (timeoutMs < 0) {
            done.wait(guard, isDone);
        } else if (!done.wait_for(guard, std::chrono::milliseconds(timeoutMs), isDone)) {
            return false;
        }
        result = outcome;
        return true;
    }

private:
    friend HostObject;
    ~CompletionSink() = default;

    // `describe` gives the call's text: it is made only when tracing, so
    // that the handler's thread allocates nothing in this sink otherwise.
    template <typename Describe> void Trace(Describe describe) const {
        if (!trace) {
            return;
        }
        std::string call = describe();
        const char* where = std::this_thread::get_id() != hostThread ? "another thread"
                            : insideStart                            ? "host thread, inside Start"
                                                                     : "host thread";
        std::fprintf(stderr, "dnswhois: sink: %s [%s]\n", call.c_str(), where);
    }

    const bool trace;
    const std::thread::id hostThread = std::this_thread::get_id();
    std::atomic<bool> insideStart{false};
    std::mutex lock;
    std::condition_variable done;
    bool completed = false;
    HRESULT outcome = S_OK;
};

// The bind information a browser hands to Start: a plain GET, asynchronous.
class HostBindInfo final
    : public HostObject<HostBindInfo, IInternetBindInfo, IID_IInternetBindInfo> {
public:
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) override {
        if (flags == nullptr || bindInfo == nullptr || bindInfo->cbSize < sizeof(BINDINFO)) {
            return E_INVALIDARG;
        }
        *flags = BindAsynchronous | BindAsyncStorage | BindPullData;
        ULONG size = bindInfo->cbSize;
        std::memset(bindInfo, 0, sizeof(BINDINFO));
        bindInfo->cbSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindString(ULONG, LPOLESTR*, ULONG, ULONG* fetched) override {
        if (fetched != nullptr) {
            *fetched = 0;
        }
        return E_NOTIMPL;
    }

private:
    friend HostObject;
    ~HostBindInfo() = default;

    // The platform's BINDF_ASYNCHRONOUS, BINDF_ASYNCSTORAGE, BINDF_PULLDATA.
    enum : DWORD { BindAsynchronous = 0x1, BindAsyncStorage = 0x2, BindPullData = 0x80 };
};

// --- the road of one request --------------------------------------------------------

bool createProtocol(const HandlerLibrary& library, REFCLSID classId, ComRef<IClassFactory>& factory,
                    ComRef<IInternetProtocol>& protocol, std::string& error) {
    HRESULT result = library.getClassObject(classId, IID_IClassFactory, factory.Out());
    if (FAILED(result) || factory.Get() == nullptr) {
        error = "DllGetClassObject gave no class object (" + hex(result) + ")";
        return false;
    }
    result = factory->CreateInstance(nullptr, IID_IInternetProtocol, protocol.Out());
    if (FAILED(result) || protocol.Get() == nullptr) {
        error = "the class object created no protocol object (" + hex(result) + ")";
        return false;
    }
    return true;
}

// Where the page goes as Read hands it out: straight to a stream (standard
// output), or kept whole for a file or the browser.
struct PageTarget {
    FILE* stream = nullptr; // when null: into `whole`
    std::string whole;
};

const char StandardOutputFailed[] = "cannot write the page to standard output";

bool takePiece(PageTarget& target, const char* bytes, size_t count, std::string& error) {
    if (target.stream == nullptr) {
        target.whole.append(bytes, count);
        return true;
    }
    if (std::fwrite(bytes, 1, count, target.stream) != count) {
        error = StandardOutputFailed;
        return false;
    }
    return true;
}

// LockRequest, Read until S_FALSE, UnlockRequest.
bool readPage(IInternetProtocol* protocol, PageTarget& target, std::string& error) {
    HRESULT result = protocol->LockRequest(0);
    if (FAILED(result)) {
        error = "LockRequest failed (" + hex(result) + ")";
        return false;
    }
    // Room for a page of the usual size at once: growing the text as it
    // comes would touch twice the memory, and each fresh page of memory
    // costs a fault.
    if (target.stream == nullptr) {
        target.whole.reserve(ExpectedPageSize);
    }
    char buffer[4096];
    bool taken = true;
    for (;;) {
        ULONG count = 0;
        result = protocol->Read(buffer, sizeof buffer, &count);
        if (FAILED(result) || count > sizeof buffer) {
            error = "Read failed (" + hex(result) + ", " + std::to_string(count) + " bytes)";
            taken = false;
            break;
        }
        if (!takePiece(target, buffer, count, error)) {
            taken = false;
            break;
        }
        if (result == S_FALSE || count == 0) {
            break;
        }
    }
    protocol->UnlockRequest();
    if (taken && target.stream != nullptr && std::fflush(target.stream) != 0) {
        error = StandardOutputFailed;
        taken = false;
    }
    return taken;
}

bool writePage(const std::string& page, const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
    written = std::fclose(file) == 0 && written;
    if (!written) {
        error = "cannot write the page to " + path;
    }
    return written;
}

// Asks DllCanUnloadNow, and asks again for a while, as a browser asks from
// time to time: the request's worker thread may still be winding down after
// its completion report, and the process should not end under it. That
// takes microseconds, and a sleep lasts far longer than asked for (a timer's
// slack is 50 us by default): so for the first millisecond the questions
// only give the processor away between them, and then the pauses start at
// 20 us and double, up to 10 ms.
void checkUnload(const HandlerLibrary& library) {
    if (library.canUnloadNow == nullptr) {
        warn("the library does not export DllCanUnloadNow");
        return;
    }
    using std::chrono::microseconds;
    using Clock = std::chrono::steady_clock;
    const microseconds longestPause(10000);
    const auto yieldingUntil = Clock::now() + std::chrono::milliseconds(1);
    const auto deadline = Clock::now() + std::chrono::milliseconds(UnloadWaitMs);
    HRESULT answer = library.canUnloadNow();
    for (microseconds pause(20); answer != S_OK && Clock::now() < deadline;) {
        if (Clock::now() < yieldingUntil) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, longestPause);
        }
        answer = library.canUnloadNow();
    }
    if (answer != S_OK) {
        warn("DllCanUnloadNow still answers " + hex(answer) + " " + std::to_string(UnloadWaitMs) +
             " ms after everything was released");
    }
}

// Start, the wait, and reading the page (or Abort). Returns the exit status.
int runRequest(IInternetProtocol* protocol, const Options& options, PageTarget& page) {
    CompletionSink* sink = new CompletionSink(options.trace);
    HostBindInfo* bindInfo = new HostBindInfo();

    sink->SetInsideStart(true);
    HRESULT result = protocol->Start(options.wideUrl.c_str(), sink, bindInfo, 0, 0);
    sink->SetInsideStart(false);
    bindInfo->Release();

    int status = PageRead;
    std::string error;
    HRESULT outcome = S_OK;
    if (FAILED(result)) {
        status = fail(HandlerFailed, "Start failed (" + hex(result) + ")");
    } else if (!sink->WaitForCompletion(options.abortAfterMs, outcome)) {
        result = protocol->Abort(E_ABORT, 0);
        status = fail(Aborted, "no completion within " + std::to_string(options.abortAfterMs) +
                                   " ms: aborted (Abort answered " + hex(result) + ")");
    } else {
        if (outcome != S_OK) {
            warn("ReportResult reported " + hex(outcome));
        }
        if (!readPage(protocol, page, error)) {
            status = fail(HandlerFailed, error);
        }
    }
    sink->Release();
    return status;
}

int run(const Options& options) {
    Handler handler;
    HandlerLibrary library;
    std::string error;
    if (!findHandler(options, handler, error)) {
        return fail(HandlerFailed, error);
    }
    if (!library.Load(handler.library, error)) {
        return fail(HandlerFailed, error);
    }

    // Standard output takes the page as it is read, as a stream of it.
    PageTarget page;
    page.stream = options.output.empty() && !options.open ? stdout : nullptr;
    int status;
    {
        // Released in reverse order: the protocol object, then the class object.
        ComRef<IClassFactory> factory;
        ComRef<IInternetProtocol> protocol;
        if (!createProtocol(library, handler.classId, factory, protocol, error)) {
            return fail(HandlerFailed, error);
        }
        status = runRequest(protocol.Get(), options, page);
    }
    checkUnload(library);

    if (status != PageRead || page.stream != nullptr) {
        return status;
    }
    if (options.open) {
        return OpenInBrowser(page.whole, error) ? PageRead : fail(NotOpened, error);
    }
    if (!writePage(page.whole, options.output, error)) {
        return fail(HandlerFailed, error);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    return run(options);
}

// kernel32 stand-ins over POSIX threads and the C++ standard library.
//
// Where this differs from Windows, and why:
// - A running thread can be neither suspended nor ended by force: POSIX has
//   no safe way to stop a thread at an arbitrary point (pthread_cancel runs
//   only at cancellation points and would leave locks and heap blocks owned
//   by a thread that no longer exists). SuspendThread and TerminateThread on
//   a running thread therefore fail with ERROR_NOT_SUPPORTED. A thread that
//   was created suspended has not begun to run, so it can be resumed, and it
//   can be "terminated" before it ever runs; a thread that has ended can be
//   terminated trivially.
// - Thread priorities are recorded and reported but do not change scheduling:
//   under the default Linux policy an unprivileged process cannot raise a
//   thread's priority.
// - Handles are checked against a table of live handles, so that closing or
//   waiting on a handle twice fails with ERROR_INVALID_HANDLE as on Windows
//   instead of touching freed memory.
#include "platform/kernel32.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

// hollin.so is loaded with dlopen, so its thread-locals would normally live in
// dynamic TLS and be reached through __tls_get_addr. ThreadSanitizer's hook on
// that call sometimes faults for threads started inside a dlopen'ed library; the
// initial-exec model puts these few bytes in glibc's static reserve for
// dlopen'ed modules and avoids the call altogether (it is also cheaper).
#define HOLLIN_STATIC_TLS __attribute__((tls_model("initial-exec")))

thread_local DWORD lastError HOLLIN_STATIC_TLS = 0;

// --- the handle table --------------------------------------------------------------

enum class ObjectKind { Thread, Event };

struct KernelObject {
    explicit KernelObject(ObjectKind k, int initialRefs) : kind(k), refs(initialRefs) {}
    virtual ~KernelObject() = default;
    const ObjectKind kind;
    std::atomic<int> refs;
    std::mutex lock;
    std::condition_variable changed;
};

// The table outlives every static destructor (it is never freed): a thread
// may still close its handles while the process exits.
std::mutex& tableLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::unordered_set<KernelObject*>& liveHandles() {
    static auto* handles = new std::unordered_set<KernelObject*>;
    return *handles;
}

HANDLE registerHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(tableLock());
    try {
        liveHandles().insert(object);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return object;
}

// Looks a handle up and takes a reference on it, so that a concurrent
// CloseHandle cannot free the object while the caller uses it. A `kind` given
// must match the object's.
KernelObject* acquire(HANDLE handle, const ObjectKind* kind) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> guard(tableLock());
    if (handle == nullptr || liveHandles().count(object) == 0 ||
        (kind != nullptr && object->kind != *kind)) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    object->refs.fetch_add(1);
    return object;
}

KernelObject* acquire(HANDLE handle, ObjectKind kind) {
    return acquire(handle, &kind);
}

KernelObject* acquireAny(HANDLE handle) {
    return acquire(handle, nullptr);
}

void releaseObject(KernelObject* object) {
    if (object->refs.fetch_sub(1) == 1) {
        delete object;
    }
}

// A reference taken by acquire(), given back when the scope ends.
class ObjectRef {
public:
    explicit ObjectRef(KernelObject* object) : object_(object) {}
    ~ObjectRef() {
        if (object_ != nullptr) {
            releaseObject(object_);
        }
    }
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    explicit operator bool() const { return object_ != nullptr; }
    template <typename T> T* as() const { return static_cast<T*>(object_); }

private:
    KernelObject* object_;
};

// --- threads ---------------------------------------------------------------------

std::atomic<DWORD> nextThreadId{1000};
thread_local DWORD currentThreadId HOLLIN_STATIC_TLS = 0;

enum class ThreadState { Suspended, Running, Ended };

struct ThreadObject : KernelObject {
    // One reference for the handle, one for the running thread.
    ThreadObject() : KernelObject(ObjectKind::Thread, 2) {}
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    DWORD id = 0;
    ThreadState state = ThreadState::Suspended;
    DWORD suspendCount = 0;
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
    bool cancelled = false; // terminated before it began to run
};

// Waits until the thread is resumed (or cancelled), runs its routine, and
// records the exit code.
void runThread(ThreadObject* thread) {
    currentThreadId = thread->id;
    lastError = 0; // as in a new thread, whatever the last routine left
    bool run = false;
    {
        std::unique_lock<std::mutex> guard(thread->lock);
        thread->changed.wait(guard,
                             [thread] { return thread->suspendCount == 0 || thread->cancelled; });
        run = !thread->cancelled;
        if (run) {
            thread->state = ThreadState::Running;
        }
    }
    if (run) {
        DWORD code = thread->start(thread->parameter);
        std::lock_guard<std::mutex> guard(thread->lock);
        thread->exitCode = code;
        thread->state = ThreadState::Ended;
        thread->changed.notify_all();
    }
    releaseObject(thread);
}

// --- idle threads ----------------------------------------------------------------
//
// Starting a POSIX thread costs far more than the short routines the system
// runs on one (a whois exchange on loopback takes a fraction of it): the
// system calls, a stack whose pages fault in afresh, and at the end the
// release of those pages. So a thread whose routine has returned stays idle
// for a while, and the next CreateThread hands it the new thread object
// instead of starting a POSIX thread. Each handle still stands for one run of
// one routine, ended when that routine returns.

const size_t MostIdleThreads = 64;
const auto IdleTime = std::chrono::seconds(2);

class IdleThreads {
public:
    IdleThreads() {
        pthread_atfork([] { pool().lock.lock(); }, [] { pool().lock.unlock(); },
                       [] {
                           // Only the forking thread goes on in the child.
                           pool().idle.clear();
                           pool().lock.unlock();
                       });
    }

    // The pool lives as long as the process: a thread may finish its routine
    // while the process exits, after every static destructor has run.
    static IdleThreads& pool() {
        static auto* threads = new IdleThreads;
        return *threads;
    }

    // Gives `thread` to an idle thread; false when none is idle.
    bool HandOver(ThreadObject* thread) {
        std::lock_guard<std::mutex> guard(lock);
        if (idle.empty()) {
            return false;
        }
        Slot* slot = idle.back();
        idle.pop_back();
        slot->next = thread;
        slot->changed.notify_one();
        return true;
    }

    // Called by a thread whose routine has returned: the next thread object it
    // is handed, or null when none came in time or the pool is closing.
    ThreadObject* WaitForNext() {
        Slot slot;
        std::unique_lock<std::mutex> guard(lock);
        if (closing || idle.size() >= MostIdleThreads) {
            return nullptr;
        }
        idle.push_back(&slot);
        slot.changed.wait_for(guard, IdleTime, [&] { return slot.next != nullptr || closing; });
        if (slot.next == nullptr) {
            idle.erase(std::find(idle.begin(), idle.end(), &slot));
            drained.notify_all();
        }
        return slot.next;
    }

    // Sends the idle threads on their way and waits until they have left this
    // module's code but for their last few instructions, as a thread that
    // ends does; for the module's unloading.
    void Close() {
        std::unique_lock<std::mutex> guard(lock);
        closing = true;
        for (Slot* slot : idle) {
            slot->changed.notify_one();
        }
        drained.wait(guard, [this] { return idle.empty(); });
    }

private:
    struct Slot {
        ThreadObject* next = nullptr;
        std::condition_variable changed;
    };

    std::mutex lock;
    std::condition_variable drained;
    std::vector<Slot*> idle;
    bool closing = false;
};

// Closes the pool when the module is unloaded or the process ends.
struct IdleThreadsCloser {
    ~IdleThreadsCloser() { IdleThreads::pool().Close(); }
} idleThreadsCloser;

// A thread of its own stack size runs its routine and ends.
void* threadMain(void* argument) {
    runThread(static_cast<ThreadObject*>(argument));
    return nullptr;
}

// A thread of the default stack size stays idle after its routine, for the
// next one.
void* idlingThreadMain(void* argument) {
    auto* thread = static_cast<ThreadObject*>(argument);
    do {
        runThread(thread);
    } while ((thread = IdleThreads::pool().WaitForNext()) != nullptr);
    return nullptr;
}

// --- events ------------------------------------------------------------------------

struct EventObject : KernelObject {
    EventObject(bool manual, bool initial)
        : KernelObject(ObjectKind::Event, 1), manualReset(manual), signalled(initial) {}
    const bool manualReset;
    bool signalled;
};

// --- waiting ---------------------------------------------------------------------------

// Waits on the object's condition until `ready` holds or the time-out passes.
template <typename Ready>
bool waitFor(KernelObject* object, std::unique_lock<std::mutex>& guard, DWORD milliseconds,
             Ready ready) {
    if (milliseconds == INFINITE) {
        object->changed.wait(guard, ready);
        return true;
    }
    if (milliseconds == 0) {
        // A test of the state: waiting on a deadline that has already passed
        // would still put the thread to sleep and wake it again.
        return ready();
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return object->changed.wait_until(guard, deadline, ready);
}

// --- code pages --------------------------------------------------------------------

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves undefined
// map to the C1 control of the same value, as Windows maps them.
const char16_t cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252ToUnicode(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? cp1252High[byte - 0x80] : char16_t(byte);
}

// The byte for a code point, or -1 when Windows-1252 has none.
int unicodeToCp1252(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return int(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        if (cp1252High[i] == codePoint) {
            return 0x80 + i;
        }
    }
    return -1;
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Reads one code point from UTF-16; a lone surrogate reads as U+FFFD.
char32_t nextCodePoint(const WCHAR* wide, int count, int& i) {
    char16_t c = wide[i++];
    if (isHighSurrogate(c) && i < count && isLowSurrogate(wide[i])) {
        char16_t low = wide[i++];
        return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
    }
    if (isHighSurrogate(c) || isLowSurrogate(c)) {
        return 0xFFFD;
    }
    return c;
}

int encodeUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one code point from UTF-8; a malformed sequence reads as U+FFFD and
// consumes one byte.
char32_t decodeUtf8(const unsigned char* in, int count, int& i) {
    unsigned char lead = in[i];
    int length = lead < 0x80         ? 1
                 : (lead >> 5) == 6  ? 2
                 : (lead >> 4) == 14 ? 3
                 : (lead >> 3) == 30 ? 4
                                     : 0;
    if (length == 0 || i + length > count) {
        ++i;
        return lead < 0x80 ? lead : 0xFFFD;
    }
    char32_t cp = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k) {
        if ((in[i + k] & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (in[i + k] & 0x3F);
    }
    static const char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return cp;
}

bool isKnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == 1252 || codePage == CP_UTF8;
}

// Collects output bytes or units, counting them when there is no room to
// write (size 0), and noticing when the caller's room runs out.
template <typename Unit> struct OutputSink {
    Unit* target;
    int size; // 0: only count
    int written = 0;
    bool overflow = false;
    void put(Unit unit) {
        if (size != 0) {
            if (written >= size) {
                overflow = true;
                return;
            }
            target[written] = unit;
        }
        ++written;
    }
};

unsigned char foldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return c + 0x20;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return c + 0x20;
    }
    switch (c) {
    case 0x8A:
        return 0x9A; // S with caron
    case 0x8C:
        return 0x9C; // OE
    case 0x8E:
        return 0x9E; // Z with caron
    case 0x9F:
        return 0xFF; // Y with diaeresis
    default:
        return c;
    }
}

} // namespace

// --- errors -------------------------------------------------------------------------------

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD code) {
    lastError = code;
}

// --- threads ------------------------------------------------------------------------------

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    if (start == nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto* thread = new (std::nothrow) ThreadObject;
    if (thread == nullptr) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    thread->start = start;
    thread->parameter = parameter;
    thread->id = nextThreadId.fetch_add(1);
    thread->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;

    if (registerHandle(thread) == nullptr) {
        delete thread;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (threadId != nullptr) {
        *threadId = thread->id;
    }
    // An idle thread of the default stack size takes the routine at once.
    if (stackSize == 0 && IdleThreads::pool().HandOver(thread)) {
        return thread;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
    }
    pthread_t posixThread;
    int failed = pthread_create(&posixThread, &attributes,
                                stackSize == 0 ? idlingThreadMain : threadMain, thread);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        {
            std::lock_guard<std::mutex> guard(tableLock());
            liveHandles().erase(thread);
        }
        delete thread;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    return thread;
}

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref || exitCode == nullptr) {
        return FALSE;
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    *exitCode = thread->exitCode;
    return TRUE;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref) {
        return FALSE;
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    switch (thread->state) {
    case ThreadState::Suspended:
        // It has not run a single instruction of its routine: it can be
        // ended without leaving anything half done.
        thread->cancelled = true;
        thread->exitCode = exitCode;
        thread->state = ThreadState::Ended;
        thread->changed.notify_all();
        return TRUE;
    case ThreadState::Ended:
        return TRUE;
    case ThreadState::Running:
    default:
        lastError = ERROR_NOT_SUPPORTED;
        return FALSE;
    }
}

DWORD SuspendThread(HANDLE handle) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref) {
        return DWORD(-1);
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    if (thread->state != ThreadState::Suspended) {
        lastError = ERROR_NOT_SUPPORTED;
        return DWORD(-1);
    }
    return thread->suspendCount++;
}

DWORD ResumeThread(HANDLE handle) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref) {
        return DWORD(-1);
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    DWORD previous = thread->suspendCount;
    if (previous > 0 && --thread->suspendCount == 0) {
        thread->changed.notify_all();
    }
    return previous;
}

int GetThreadPriority(HANDLE handle) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref) {
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    return thread->priority;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    ObjectRef ref(acquire(handle, ObjectKind::Thread));
    if (!ref) {
        return FALSE;
    }
    // The values Windows accepts: -2..2, idle (-15) and time-critical (15).
    if ((priority < THREAD_PRIORITY_LOWEST || priority > THREAD_PRIORITY_HIGHEST) &&
        priority != -15 && priority != 15) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto* thread = ref.as<ThreadObject>();
    std::lock_guard<std::mutex> guard(thread->lock);
    thread->priority = priority;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (currentThreadId == 0) {
        currentThreadId = nextThreadId.fetch_add(1);
    }
    return currentThreadId;
}

// --- events -------------------------------------------------------------------------------

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name != nullptr) {
        // Named events are shared between processes on Windows; nothing here
        // needs them, and a private event under a name would be a lie.
        lastError = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    auto* event = new (std::nothrow) EventObject(manualReset != FALSE, initialState != FALSE);
    if (event == nullptr || registerHandle(event) == nullptr) {
        delete event;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    return event;
}

static BOOL setSignalled(HANDLE handle, bool signalled) {
    ObjectRef ref(acquire(handle, ObjectKind::Event));
    if (!ref) {
        return FALSE;
    }
    auto* event = ref.as<EventObject>();
    std::lock_guard<std::mutex> guard(event->lock);
    event->signalled = signalled;
    if (signalled) {
        event->changed.notify_all();
    }
    return TRUE;
}

BOOL SetEvent(HANDLE event) {
    return setSignalled(event, true);
}
BOOL ResetEvent(HANDLE event) {
    return setSignalled(event, false);
}

// --- waiting and closing ------------------------------------------------------------------

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ObjectRef ref(acquireAny(handle));
    if (!ref) {
        return WAIT_FAILED;
    }
    auto* object = ref.as<KernelObject>();
    std::unique_lock<std::mutex> guard(object->lock);
    if (object->kind == ObjectKind::Thread) {
        auto* thread = ref.as<ThreadObject>();
        bool ended = waitFor(object, guard, milliseconds,
                             [thread] { return thread->state == ThreadState::Ended; });
        return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    auto* event = ref.as<EventObject>();
    if (!waitFor(object, guard, milliseconds, [event] { return event->signalled; })) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) {
        event->signalled = false; // an auto-reset event releases one waiter
    }
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    {
        std::lock_guard<std::mutex> guard(tableLock());
        if (handle == nullptr || liveHandles().erase(object) == 0) {
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
    }
    releaseObject(object);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// --- critical sections and interlocked counting --------------------------------------------

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->mutex = new (std::nothrow) std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->mutex);
    section->mutex = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    if (section->mutex != nullptr) {
        static_cast<std::recursive_mutex*>(section->mutex)->lock();
    }
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    if (section->mutex != nullptr) {
        static_cast<std::recursive_mutex*>(section->mutex)->unlock();
    }
}

LONG InterlockedIncrement(LONG volatile* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// --- code pages -----------------------------------------------------------------------------

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multi,
                        int multiSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (!isKnownCodePage(codePage) || wide == nullptr || wideCount == 0 || wideCount < -1 ||
        multiSize < 0 || (multiSize > 0 && multi == nullptr) || flags != 0 ||
        (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr))) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    int count = wideCount == -1 ? lstrlenW(wide) + 1 : wideCount;
    char replacement = defaultChar != nullptr ? *defaultChar : '?';
    bool usedDefault = false;
    OutputSink<char> out{multi, multiSize};
    for (int i = 0; i < count && !out.overflow;) {
        char32_t cp = nextCodePoint(wide, count, i);
        if (codePage == CP_UTF8) {
            char bytes[4];
            int n = encodeUtf8(cp, bytes);
            for (int k = 0; k < n; ++k) {
                out.put(bytes[k]);
            }
            continue;
        }
        int byte = unicodeToCp1252(cp);
        if (byte < 0) {
            usedDefault = true;
            out.put(replacement);
        } else {
            out.put(char(byte));
        }
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    if (out.overflow) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    return out.written;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiCount, LPWSTR wide,
                        int wideSize) {
    if (!isKnownCodePage(codePage) || multi == nullptr || multiCount == 0 || multiCount < -1 ||
        wideSize < 0 || (wideSize > 0 && wide == nullptr) || flags != 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    int count = multiCount == -1 ? lstrlenA(multi) + 1 : multiCount;
    auto* bytes = reinterpret_cast<const unsigned char*>(multi);
    OutputSink<WCHAR> out{wide, wideSize};
    for (int i = 0; i < count && !out.overflow;) {
        if (codePage != CP_UTF8) {
            out.put(cp1252ToUnicode(bytes[i++]));
            continue;
        }
        char32_t cp = decodeUtf8(bytes, count, i);
        if (cp >= 0x10000) {
            out.put(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.put(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.put(char16_t(cp));
        }
    }
    if (out.overflow) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    return out.written;
}

// --- lstr text functions ----------------------------------------------------------------------

int lstrlenA(LPCSTR text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length > size_t(INT_MAX) ? INT_MAX : int(length);
}

int lstrlenW(LPCWSTR text) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length > size_t(INT_MAX) ? INT_MAX : int(length);
}

LPSTR lstrcpyA(LPSTR target, LPCSTR source) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    LPSTR out = target;
    while ((*out++ = *source++) != '\0') {
    }
    return target;
}

LPSTR lstrcpynA(LPSTR target, LPCSTR source, int size) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    if (size <= 0) {
        return target;
    }
    int i = 0;
    for (; i < size - 1 && source[i] != '\0'; ++i) {
        target[i] = source[i];
    }
    target[i] = '\0';
    return target;
}

LPSTR lstrcatA(LPSTR target, LPCSTR source) {
    if (target == nullptr || source == nullptr) {
        return nullptr;
    }
    lstrcpyA(target + lstrlenA(target), source);
    return target;
}

static int compareTexts(LPCSTR a, LPCSTR b, bool ignoreCase) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    }
    auto* x = reinterpret_cast<const unsigned char*>(a);
    auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        unsigned char cx = ignoreCase ? foldCase(*x) : *x;
        unsigned char cy = ignoreCase ? foldCase(*y) : *y;
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
        if (cx == 0) {
            return 0;
        }
    }
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    return compareTexts(a, b, false);
}
int lstrcmpiA(LPCSTR a, LPCSTR b) {
    return compareTexts(a, b, true);
}

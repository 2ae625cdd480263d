// Threads: CreateThread and the calls on a thread's handle, over POSIX
// threads.
//
// Divisions, in order:
//   - the thread object: what a thread handle stands for, and the routine
//     every thread starts in
//   - idle threads: POSIX threads kept for the next routine
//   - creating: CreateThread
//   - the running thread: exit codes, suspending and resuming, ending by
//     force
//   - priorities: GetThreadPriority and SetThreadPriority
//
// A thread handle is waited on with WaitForSingleObject (sync.cpp), which is
// satisfied once the thread has ended, and closed with CloseHandle.
//
// Where this differs from Windows, and why:
// - A running thread can be neither suspended nor ended by force: POSIX has
//   no safe way to stop a thread at an arbitrary point (pthread_cancel runs
//   only at cancellation points and would leave locks and heap blocks owned
//   by a thread that no longer exists). SuspendThread and TerminateThread on
//   a running thread therefore fail with ERROR_NOT_SUPPORTED. A thread that
//   was created suspended has not begun to run, so it can be resumed, and it
//   can be "terminated" before it ever runs; a thread that has ended can be
//   terminated trivially. These calls exist for WorkerThread's interface
//   (support/WorkerThread.h), which offers pausing and killing.
// - Thread priorities are recorded and reported but do not change scheduling:
//   under the default Linux policy an unprivileged process cannot raise a
//   thread's priority.
// - Thread identifiers are numbered by this layer, from 1000 on; they are
//   unique in the process but are not the system's thread ids.
#include "platform/handletable.h"
#include "platform/lasterror.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>
#include <vector>

// --- the thread object ---------------------------------------------------------------------------

namespace {

std::atomic<DWORD> nextThreadId{1000};

enum class ThreadState { Suspended, Running, Ended };

struct ThreadObject : KernelObject {
    static const ObjectKind Kind = ObjectKind::Thread;
    // One reference for the handle, one for the running thread.
    ThreadObject() : KernelObject(Kind, 2) {}
    bool IsSignalled() const override { return state == ThreadState::Ended; }

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
    SetLastError(0); // as in a new thread, whatever the last routine left
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
    ReleaseObject(thread);
}

// --- idle threads --------------------------------------------------------------------------------
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
        pthread_atfork([] { Pool().lock.lock(); }, [] { Pool().lock.unlock(); },
                       [] {
                           // Only the forking thread goes on in the child.
                           Pool().idle.clear();
                           Pool().lock.unlock();
                       });
    }

    // The pool lives as long as the process: a thread may finish its routine
    // while the process exits, after every static destructor has run.
    static IdleThreads& Pool() {
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
    IdleThreadsCloser() = default;
    IdleThreadsCloser(const IdleThreadsCloser&) = delete;
    IdleThreadsCloser& operator=(const IdleThreadsCloser&) = delete;
    ~IdleThreadsCloser() { IdleThreads::Pool().Close(); }
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
    } while ((thread = IdleThreads::Pool().WaitForNext()) != nullptr);
    return nullptr;
}

} // namespace

// --- creating ------------------------------------------------------------------------------------

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD creationFlags, LPDWORD threadId) {
    if (start == nullptr) {
        return Fail(DWORD(ERROR_INVALID_PARAMETER), HANDLE(nullptr));
    }
    auto* thread = new (std::nothrow) ThreadObject;
    if (thread == nullptr) {
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    thread->start = start;
    thread->parameter = parameter;
    thread->id = nextThreadId.fetch_add(1);
    thread->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;

    if (RegisterHandle(thread) == nullptr) {
        delete thread;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    if (threadId != nullptr) {
        *threadId = thread->id;
    }
    // An idle thread of the default stack size takes the routine at once.
    if (stackSize == 0 && IdleThreads::Pool().HandOver(thread)) {
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
        UnregisterHandle(thread);
        delete thread;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    return thread;
}

// --- the running thread --------------------------------------------------------------------------

BOOL GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
    return WithLockedObject<ThreadObject>(handle, FALSE, [exitCode](ThreadObject& thread) {
        if (exitCode == nullptr) {
            return FALSE;
        }
        *exitCode = thread.exitCode;
        return TRUE;
    });
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
    return WithLockedObject<ThreadObject>(handle, FALSE, [exitCode](ThreadObject& thread) {
        switch (thread.state) {
        case ThreadState::Suspended:
            // It has not run a single instruction of its routine: it can be
            // ended without leaving anything half done.
            thread.cancelled = true;
            thread.exitCode = exitCode;
            thread.state = ThreadState::Ended;
            thread.changed.notify_all();
            return TRUE;
        case ThreadState::Ended:
            return TRUE;
        case ThreadState::Running:
        default:
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
    });
}

DWORD SuspendThread(HANDLE handle) {
    return WithLockedObject<ThreadObject>(handle, DWORD(-1), [](ThreadObject& thread) {
        if (thread.state != ThreadState::Suspended) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return DWORD(-1);
        }
        return thread.suspendCount++;
    });
}

DWORD ResumeThread(HANDLE handle) {
    return WithLockedObject<ThreadObject>(handle, DWORD(-1), [](ThreadObject& thread) {
        DWORD previous = thread.suspendCount;
        if (previous > 0 && --thread.suspendCount == 0) {
            thread.changed.notify_all();
        }
        return previous;
    });
}

// --- priorities ----------------------------------------------------------------------------------

int GetThreadPriority(HANDLE handle) {
    return WithLockedObject<ThreadObject>(handle, int(THREAD_PRIORITY_ERROR_RETURN),
                                          [](ThreadObject& thread) { return thread.priority; });
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    return WithLockedObject<ThreadObject>(handle, FALSE, [priority](ThreadObject& thread) {
        // The values Windows accepts: -2..2, idle (-15) and time-critical (15).
        if ((priority < THREAD_PRIORITY_LOWEST || priority > THREAD_PRIORITY_HIGHEST) &&
            priority != -15 && priority != 15) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        thread.priority = priority;
        return TRUE;
    });
}

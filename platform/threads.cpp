// Threads: CreateThread and the calls on a thread's handle, over POSIX
// threads.
//
// Divisions, in order:
//   - the thread object: what a thread handle stands for, and the routine
//     every thread starts in
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
#include <climits>
#include <new>

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
void* threadMain(void* argument) {
    auto* thread = static_cast<ThreadObject*>(argument);
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

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
    }
    if (RegisterHandle(thread) == nullptr) {
        pthread_attr_destroy(&attributes);
        delete thread;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    pthread_t posixThread;
    int failed = pthread_create(&posixThread, &attributes, threadMain, thread);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        UnregisterHandle(thread);
        delete thread;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    if (threadId != nullptr) {
        *threadId = thread->id;
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

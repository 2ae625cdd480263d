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

// A thread of its own stack size runs its routine and ends.
void* threadMain(void* argument) {
    runThread(static_cast<ThreadObject*>(argument));
    return nullptr;
}

// --- idle threads --------------------------------------------------------------------------------
//
// Starting a POSIX thread costs more than a whole whois exchange on loopback
// (the system calls, a stack whose pages fault in afresh, and their release
// at the end). So a thread of the default stack size whose routine has
// returned stays idle for a while, and the next CreateThread hands it the new
// thread object instead of starting a thread. Each handle still stands for
// one run of one routine, ended when that routine returns.
//
// An idle thread runs this module's code, so it must be gone before the
// module is unloaded: ReleaseIdleThreads (which the library's DllCanUnloadNow
// asks) and the module's unloading send the idle threads away and join them.
// An idle thread also leaves by itself after IdleTime; it is joined by the
// next one who passes (a CreateThread that starts a thread, or the release).

const size_t MostIdleThreads = 64;
const auto IdleTime = std::chrono::seconds(2);
// An idle thread sent away only wakes and returns; this bounds the wait for
// it all the same.
const auto LeaveTime = std::chrono::milliseconds(500);

class IdleThreads {
public:
    // Gives `thread` to an idle thread; false when none is idle.
    bool HandOver(ThreadObject* thread) {
        std::lock_guard<std::mutex> guard(lock);
        if (idleCount == 0) {
            return false;
        }
        Slot* slot = idle[--idleCount];
        slot->next = thread;
        slot->wake.notify_one();
        return true;
    }

    // Before starting a thread that will idle: joins those that have left,
    // and counts the new one; false when there is no memory to keep track
    // of it. NotStarted takes it back when it could not be started.
    bool Starting() {
        std::lock_guard<std::mutex> guard(lock);
        JoinLeavers();
        try {
            // Room for every thread to leave: leaving then never allocates.
            leavers.reserve(existing + 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
        ++existing;
        return true;
    }
    void NotStarted() {
        std::lock_guard<std::mutex> guard(lock);
        --existing;
    }

    // Called by a thread whose routine has returned: the next thread object
    // it is handed, or null when it is to leave (none came in time, it was
    // sent away, or enough threads are idle already).
    ThreadObject* WaitForNext() {
        Slot slot;
        std::unique_lock<std::mutex> guard(lock);
        if (idleCount < MostIdleThreads) {
            idle[idleCount++] = &slot;
            changed.notify_all(); // a release under way sends it away
            // It sleeps at once: a thread that watched for the next routine
            // instead would hide a free processor from the scheduler, and
            // on a busy machine the threads it waits for would wait longer.
            slot.wake.wait_for(guard, IdleTime,
                               [&] { return slot.next != nullptr || slot.sentAway; });
            if (slot.next != nullptr) {
                return slot.next;
            }
            if (!slot.sentAway) {
                Remove(&slot);
            }
        }
        leavers.push_back(pthread_self());
        changed.notify_all();
        return nullptr;
    }

    // Sends the idle threads away and joins every thread that has left;
    // true when no thread of the pool is left. A thread whose routine is
    // just ending goes idle in a moment and is sent away in turn; one still
    // running a routine is waited for no longer than LeaveTime.
    bool Release() {
        std::unique_lock<std::mutex> guard(lock);
        auto deadline = std::chrono::steady_clock::now() + LeaveTime;
        for (;;) {
            while (idleCount > 0) {
                Slot* slot = idle[--idleCount];
                slot->sentAway = true;
                slot->wake.notify_one();
            }
            JoinLeavers();
            if (existing == 0 || changed.wait_until(guard, deadline) == std::cv_status::timeout) {
                break;
            }
        }
        JoinLeavers();
        return existing == 0;
    }

    // Fork: only the forking thread goes on in the child, where no thread of
    // the pool exists.
    void LockForFork() { lock.lock(); }
    void UnlockAfterFork(bool inChild) {
        if (inChild) {
            idleCount = 0;
            existing = 0;
            leavers.clear();
        }
        lock.unlock();
    }

private:
    struct Slot {
        ThreadObject* next = nullptr;
        bool sentAway = false;
        std::condition_variable wake;
    };

    void Remove(Slot* slot) {
        Slot** end = idle + idleCount;
        Slot** found = std::find(idle, end, slot);
        if (found != end) {
            std::move(found + 1, end, found);
            --idleCount;
        }
    }

    // Joins the threads that have left, under the lock: they have let go of
    // it and run no more than their last instructions.
    void JoinLeavers() {
        for (pthread_t leaver : leavers) {
            pthread_join(leaver, nullptr);
        }
        existing -= leavers.size();
        leavers.clear();
    }

    std::mutex lock;
    std::condition_variable changed; // a thread has gone idle or left
    Slot* idle[MostIdleThreads] = {};
    size_t idleCount = 0;
    std::vector<pthread_t> leavers; // left their loop, not joined yet
    size_t existing = 0;            // started and not joined yet
};

// The pool, made at the first thread that may idle. The module's unloading
// frees it when no thread of it is left; else (a process ending while
// routines still run) it is kept for the threads that still use it.
std::atomic<IdleThreads*> idleThreads{nullptr};
std::mutex idleThreadsMaking;

void lockForFork() {
    if (IdleThreads* threads = idleThreads.load()) {
        threads->LockForFork();
    }
}
void unlockInParent() {
    if (IdleThreads* threads = idleThreads.load()) {
        threads->UnlockAfterFork(false);
    }
}
void unlockInChild() {
    if (IdleThreads* threads = idleThreads.load()) {
        threads->UnlockAfterFork(true);
    }
}

// Null when there is no memory for it: threads then end after their routine.
IdleThreads* theIdleThreads() {
    if (IdleThreads* threads = idleThreads.load()) {
        return threads;
    }
    std::lock_guard<std::mutex> guard(idleThreadsMaking);
    static bool forkHandled = false;
    if (!forkHandled) {
        forkHandled = pthread_atfork(lockForFork, unlockInParent, unlockInChild) == 0;
    }
    if (forkHandled && idleThreads.load() == nullptr) {
        idleThreads.store(new (std::nothrow) IdleThreads);
    }
    return idleThreads.load();
}

struct IdleThreadsCloser {
    IdleThreadsCloser() = default;
    IdleThreadsCloser(const IdleThreadsCloser&) = delete;
    IdleThreadsCloser& operator=(const IdleThreadsCloser&) = delete;
    ~IdleThreadsCloser() {
        IdleThreads* threads = idleThreads.load();
        if (threads != nullptr && threads->Release()) {
            idleThreads.store(nullptr);
            delete threads;
        }
    }
} idleThreadsCloser;

// A thread of the default stack size stays idle after its routine, for the
// next one.
void* idlingThreadMain(void* argument) {
    auto* thread = static_cast<ThreadObject*>(argument);
    IdleThreads* threads = idleThreads.load();
    do {
        runThread(thread);
    } while ((thread = threads->WaitForNext()) != nullptr);
    return nullptr;
}

} // namespace

// --- creating ------------------------------------------------------------------------------------

namespace {

// Starts a POSIX thread for `thread`: one that idles after its routine when
// `threads` is given, else one of `stackSize` (0: the default) that ends.
bool startThread(ThreadObject* thread, SIZE_T stackSize, IdleThreads* threads) {
    if (threads != nullptr && !threads->Starting()) {
        threads = nullptr;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // A thread that idles is joined when it leaves; the others are not waited for.
    if (threads == nullptr) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    }
    if (stackSize != 0) {
        pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
    }
    pthread_t posixThread;
    int failed = pthread_create(&posixThread, &attributes,
                                threads != nullptr ? idlingThreadMain : threadMain, thread);
    pthread_attr_destroy(&attributes);
    if (failed != 0 && threads != nullptr) {
        threads->NotStarted();
    }
    return failed == 0;
}

} // namespace

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
    IdleThreads* threads = stackSize == 0 ? theIdleThreads() : nullptr;
    if ((threads == nullptr || !threads->HandOver(thread)) &&
        !startThread(thread, stackSize, threads)) {
        UnregisterHandle(thread);
        delete thread;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    if (threadId != nullptr) {
        *threadId = thread->id;
    }
    return thread;
}

BOOL ReleaseIdleThreads() {
    IdleThreads* threads = idleThreads.load();
    return threads == nullptr || threads->Release() ? TRUE : FALSE;
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

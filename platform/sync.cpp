// Synchronisation: events, waiting on handles, critical sections,
// interlocked counting, and the clock that waits are measured by.
//
// Divisions, in order:
//   - events: CreateEventA, SetEvent and ResetEvent
//   - waiting: WaitForSingleObject on an event or a thread, and Sleep
//   - critical sections: recursive locks
//   - interlocked counting: InterlockedIncrement and InterlockedDecrement
//   - the clock: GetTickCount
//
// Where this differs from Windows, and why:
// - Events cannot be named: a named event is shared between processes on
//   Windows, nothing here needs that, and a private event under a name would
//   be a lie. CreateEventA with a name fails with ERROR_NOT_SUPPORTED.
// - A critical section is a recursive POSIX mutex held in the structure;
//   there is no spin count and no debug information.
// - GetTickCount reads the monotonic clock, which stands still while the
//   system is suspended; the system only measures time-outs with it. It
//   wraps around every 49.7 days, as on Windows.
#include "platform/handletable.h"
#include "platform/lasterror.h"

#include <chrono>
#include <new>
#include <thread>

// --- events --------------------------------------------------------------------------------------

namespace {

struct EventObject : KernelObject {
    static const ObjectKind Kind = ObjectKind::Event;
    EventObject(bool manual, bool initial)
        : KernelObject(Kind, 1), manualReset(manual), signalled(initial) {}
    bool IsSignalled() const override { return signalled; }
    void OnWaitSatisfied() override {
        if (!manualReset) {
            signalled = false; // an auto-reset event releases one waiter
        }
    }

    const bool manualReset;
    bool signalled;
};

BOOL setSignalled(HANDLE handle, bool signalled) {
    return WithLockedObject<EventObject>(handle, FALSE, [signalled](EventObject& event) {
        event.signalled = signalled;
        if (signalled) {
            event.changed.notify_all();
        }
        return TRUE;
    });
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name != nullptr) {
        return Fail(DWORD(ERROR_NOT_SUPPORTED), HANDLE(nullptr));
    }
    auto* event = new (std::nothrow) EventObject(manualReset != FALSE, initialState != FALSE);
    if (event == nullptr || RegisterHandle(event) == nullptr) {
        delete event;
        return Fail(DWORD(ERROR_NOT_ENOUGH_MEMORY), HANDLE(nullptr));
    }
    return event;
}

BOOL SetEvent(HANDLE event) {
    return setSignalled(event, true);
}

BOOL ResetEvent(HANDLE event) {
    return setSignalled(event, false);
}

// --- waiting -------------------------------------------------------------------------------------

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ObjectRef ref(AcquireAnyObject(handle));
    if (!ref) {
        return WAIT_FAILED;
    }
    auto* object = ref.As<KernelObject>();
    std::unique_lock<std::mutex> guard(object->lock);
    auto signalled = [object] { return object->IsSignalled(); };
    if (milliseconds == INFINITE) {
        object->changed.wait(guard, signalled);
    } else if (milliseconds == 0) {
        // A test of the state: waiting on a deadline that has already passed
        // would still put the thread to sleep and wake it again.
        if (!signalled()) {
            return WAIT_TIMEOUT;
        }
    } else {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        if (!object->changed.wait_until(guard, deadline, signalled)) {
            return WAIT_TIMEOUT;
        }
    }
    object->OnWaitSatisfied();
    return WAIT_OBJECT_0;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// --- critical sections ---------------------------------------------------------------------------

// The mutex lives in the structure, so that setting it up cannot fail: a
// section whose lock could not be had would let every thread in.
void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_destroy(&section->mutex);
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_lock(&section->mutex);
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    pthread_mutex_unlock(&section->mutex);
}

// --- interlocked counting ------------------------------------------------------------------------

LONG InterlockedIncrement(LONG volatile* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// --- the clock -----------------------------------------------------------------------------------

DWORD GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

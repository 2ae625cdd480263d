#include "support/WorkerThread.h"

WorkerThread::WorkerThread(Runnable* target)
    : runTarget(target != nullptr ? target : this), threadHandle(nullptr), threadId(0),
      stopEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

WorkerThread::~WorkerThread() {
    if (threadHandle != nullptr) {
        Stop(0);
    }
    CloseThreadHandle();
    if (stopEvent != nullptr) {
        CloseHandle(stopEvent);
    }
}

DWORD WINAPI WorkerThread::ThreadEntry(LPVOID parameter) {
    return static_cast<WorkerThread*>(parameter)->Run();
}

DWORD WorkerThread::Run() {
    if (runTarget == this) {
        return 0; // nothing to run: a base object given no target
    }
    return runTarget->Run();
}

LONG WorkerThread::StartThread(DWORD stackSize, DWORD creationFlags) {
    // One thread per object: a second one would share its fields, and
    // replacing the handle would lose the first thread for good.
    if (threadHandle != nullptr) {
        if (IsRunning()) {
            return 0;
        }
        CloseThreadHandle();
    }
    threadHandle = CreateThread(nullptr, stackSize, ThreadEntry, this, creationFlags, &threadId);
    return threadHandle != nullptr ? 1 : 0;
}

LONG WorkerThread::Create(DWORD stackSize) {
    ResetEvent(stopEvent);
    return StartThread(stackSize, 0);
}

LONG WorkerThread::CreateSuspended(DWORD stackSize) {
    return StartThread(stackSize, CREATE_SUSPENDED);
}

LONG WorkerThread::Stop(DWORD timeout) {
    if (threadHandle == nullptr || !IsRunning()) {
        return 1;
    }
    SetEvent(stopEvent);
    if (Wait(timeout == 0 ? INFINITE : timeout)) {
        return 1;
    }
    return Kill();
}

LONG WorkerThread::Kill() {
    if (threadHandle != nullptr && TerminateThread(threadHandle, 0)) {
        CloseThreadHandle();
        return 1;
    }
    return 0;
}

LONG WorkerThread::Pause() {
    if (threadHandle == nullptr) {
        return 0;
    }
    return SuspendThread(threadHandle) != DWORD(-1) ? 1 : 0;
}

LONG WorkerThread::Unpause() {
    if (threadHandle == nullptr) {
        return 0;
    }
    return ResumeThread(threadHandle) != DWORD(-1) ? 1 : 0;
}

int WorkerThread::SetPriority(int priority) {
    if (threadHandle == nullptr) {
        return 0;
    }
    int previous = GetThreadPriority(threadHandle);
    SetThreadPriority(threadHandle, priority);
    return previous;
}

int WorkerThread::GetPriority() {
    return threadHandle != nullptr ? GetThreadPriority(threadHandle) : 0;
}

int WorkerThread::SetHighestPriority() {
    return SetPriority(THREAD_PRIORITY_HIGHEST);
}
int WorkerThread::SetLowestPriority() {
    return SetPriority(THREAD_PRIORITY_LOWEST);
}
int WorkerThread::SetNormalPriority() {
    return SetPriority(THREAD_PRIORITY_NORMAL);
}

LONG WorkerThread::IsRunning() {
    DWORD code = 0;
    return (threadHandle != nullptr && GetExitCodeThread(threadHandle, &code) &&
            code == STILL_ACTIVE)
               ? 1
               : 0;
}

DWORD WorkerThread::GetExitCode() {
    DWORD code = 0;
    if (threadHandle != nullptr && GetExitCodeThread(threadHandle, &code)) {
        return code;
    }
    return 0;
}

LONG WorkerThread::StopRequested(DWORD timeout) {
    return WaitForSingleObject(stopEvent, timeout) == WAIT_OBJECT_0 ? 1 : 0;
}

BOOL WorkerThread::ClearStop() {
    return ResetEvent(stopEvent);
}

LONG WorkerThread::Wait(DWORD timeout) {
    if (threadHandle == nullptr) {
        return 0;
    }
    return WaitForSingleObject(threadHandle, timeout) == WAIT_OBJECT_0 ? 1 : 0;
}

void WorkerThread::CloseThreadHandle() {
    if (threadHandle != nullptr) {
        CloseHandle(threadHandle);
        threadHandle = nullptr;
    }
}

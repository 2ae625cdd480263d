// One operating-system thread with an auto-reset stop signal.
#pragma once

#include "platform/winapi.h"

// Anything whose first virtual operation is the work of a thread.
class Runnable {
public:
    virtual DWORD Run() = 0;

protected:
    ~Runnable() = default;
};

// A subclass puts its work in Run, or hands another Runnable to the
// constructor. The owner starts the thread with Create and asks it to end
// with Stop; the thread body polls StopRequested.
class WorkerThread : public Runnable {
public:
    explicit WorkerThread(Runnable* runTarget = nullptr);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // The thread's work; its result is the thread's exit code. The base
    // version runs the run target, and returns 0 when that is the object
    // itself (nothing was given to run).
    DWORD Run() override;
    virtual LONG Create(DWORD stackSize);
    virtual LONG CreateSuspended(DWORD stackSize);
    // Raises the stop signal and waits for the thread (0: without a limit);
    // kills it when the wait times out.
    virtual LONG Stop(DWORD timeout);
    // Pausing, killing and the priorities are here because the class's
    // interface has them (the operations and their slots are fixed, and
    // subclasses may override any of them); nothing in the system pauses a
    // thread or changes its priority, and only Stop kills. They stay thin
    // wrappers of the platform's thread calls, which off Windows do only what
    // POSIX allows (see platform/threads.cpp).
    //
    // Ends the thread by force where the platform can (off Windows a running
    // thread cannot be ended, and then this fails and frees nothing).
    virtual LONG Kill();
    // Suspends and resumes the thread (off Windows only a thread created
    // suspended can be held back).
    virtual LONG Pause();
    virtual LONG Unpause();
    // Off Windows the priority is recorded and reported, but the scheduler
    // does not see it.
    virtual int SetPriority(int priority);
    virtual int GetPriority();
    virtual int SetHighestPriority();
    virtual int SetLowestPriority();
    virtual int SetNormalPriority();
    virtual LONG IsRunning();
    virtual DWORD GetExitCode();
    // Whether a stop was asked for; a positive answer consumes the request.
    virtual LONG StopRequested(DWORD timeout);
    virtual BOOL ClearStop();
    virtual LONG Wait(DWORD timeout);
    virtual void CloseThreadHandle();
    // Last, so that the operations above keep their slots. If a thread is
    // still held it is stopped first, waiting without a time limit.
    virtual ~WorkerThread();

    // Raises the stop signal without waiting for the thread.
    void RequestStop() { SetEvent(stopEvent); }
    // Whether the stop event could be made: without it no stop reaches the
    // thread, so the thread must not be started.
    bool CanBeStopped() const { return stopEvent != nullptr; }
    // The stop signal, for a wait that the thread hands to another call.
    HANDLE GetStopEvent() const { return stopEvent; }
    HANDLE GetThreadHandle() const { return threadHandle; }
    DWORD GetThreadId() const { return threadId; }

protected:
    static DWORD WINAPI ThreadEntry(LPVOID parameter);

private:
    LONG StartThread(DWORD stackSize, DWORD creationFlags);

    Runnable* runTarget;
    HANDLE threadHandle;
    DWORD threadId;
    HANDLE stopEvent;
};

// kernel32 stand-ins: errors, threads, events, waits, memory, critical
// sections, interlocked counting, code-page conversion and the lstr text
// functions.
//
// Handles returned here are objects of this layer; each is released with
// CloseHandle. Where POSIX cannot do what Windows does, the call fails the
// way the Windows call reports failure and sets the last error to
// ERROR_NOT_SUPPORTED (the reasons are in threads.cpp and sync.cpp).
#pragma once

#include "platform/wintypes.h"
#include "platform/winerror.h"

#include <pthread.h>

// --- errors --------------------------------------------------------------------------------------

DWORD GetLastError();
void SetLastError(DWORD code);

// --- handles, threads, events, waits -------------------------------------------------------------

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define CREATE_SUSPENDED 0x00000004u

#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);
// hollin's own, not Windows': a thread of the default stack size stays idle
// a while after its routine, for the next CreateThread. This sends the idle
// threads away and joins them; TRUE when no such thread is left, running a
// routine or idle, so that the module holding this code may be unloaded.
BOOL ReleaseIdleThreads();
int GetThreadPriority(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();

// --- memory --------------------------------------------------------------------------------------

// Makes the whole pages within `size` bytes from `start` present and
// writable in one call, for a buffer about to be filled: TRUE when it did.
// Not a Windows call (see memory.cpp).
BOOL PopulateMemory(void* start, SIZE_T size);

// --- critical sections and interlocked counting --------------------------------------------------

// The Windows structure is opaque to its users; here it holds a recursive
// POSIX mutex (critical sections may be entered again by their owner).
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);

// --- code pages ----------------------------------------------------------------------------------

// CP_ACP is Windows-1252 here: one byte per character, and a character the
// code page cannot show becomes '?', the platform's default character.
#define CP_ACP 0u
#define CP_UTF8 65001u

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multi,
                        int multiSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiCount, LPWSTR wide,
                        int wideSize);

// --- lstr text functions -------------------------------------------------------------------------

int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);
LPSTR lstrcpyA(LPSTR target, LPCSTR source);
LPSTR lstrcpynA(LPSTR target, LPCSTR source, int size);
int lstrcmpA(LPCSTR a, LPCSTR b);
// Case-insensitive in the Windows-1252 letters (ASCII and Latin-1), which is
// what the locale-aware Windows call gives for these texts, bar its word-sort
// treatment of hyphens and apostrophes.
int lstrcmpiA(LPCSTR a, LPCSTR b);

// --- modules and resources -----------------------------------------------------------------------

#include "platform/module.h"

// kernel32 stand-ins for files: creating, writing, flushing, moving and
// deleting them, as far as the toolkit saves files through them.
//
// And two calls Windows does not have, for tests and hosts of the stand-ins:
// a file call made to fail on its Nth use, and what the last failed file
// call was.
#pragma once

#include "platform/wintypes.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(LONG_PTR(-1)))

// Asynchronous input and output is not offered: a call given an OVERLAPPED
// fails with ERROR_INVALID_PARAMETER.
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// Sharing modes are not enforced (POSIX has no mandatory sharing locks), and
// the attributes and template are ignored.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// No backup is made (`backup` must be null); `flags`, `exclude` and
// `reserved` are ignored.
BOOL ReplaceFileA(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD flags, LPVOID exclude,
                  LPVOID reserved);
BOOL DeleteFileA(LPCSTR path);

// --- the stand-ins only --------------------------------------------------------------------------

// The POSIX calls underneath every file the stand-ins write (the registry
// file, files made with CreateFileA).
enum FileCall { FileCallOpen, FileCallWrite, FileCallSync, FileCallRename, FileCallLock };

// For tests: the `nth` use of `call` from now on (1: the very next) fails
// with errno `error` instead of being made, once. An `nth` of 0 takes an
// armed failure back. Armed failures count the calls of every thread.
void InjectFileFault(FileCall call, unsigned long nth, int error);

// What the last file call that failed was, as "call(path): reason", for
// example "rename(/a/registry.reg.tmp, /a/registry.reg): No space left on
// device"; an empty text when none has failed since the last registry change
// or CreateFileA began. Answers the text's length, as GetModuleFileNameA
// does (cut to fit `size`). One record for the process, kept by the program's
// own copy of this layer when a library it loaded has one too, so that a
// host can tell what failed inside the library.
DWORD GetLastFileFailure(LPSTR text, DWORD size);

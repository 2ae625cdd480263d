// The last error: the code a failing call leaves for GetLastError.
//
// Divisions, in order:
//   - the last error: GetLastError and SetLastError
//
// Where this differs from Windows, and why:
// - The code is a thread-local variable of this layer, not a field of the
//   thread's environment block. A module that links its own copy of the
//   layer (hollin.so, which exports nothing else) has a last error of its
//   own: a code its calls leave is not seen by its host, and the other way
//   round. Nothing crosses that boundary through the last error; the entry
//   points answer HRESULTs.
#include "platform/kernel32.h"

namespace {

// hollin.so is loaded with dlopen, so its thread-locals would normally live in
// dynamic TLS and be reached through __tls_get_addr. ThreadSanitizer's hook on
// that call sometimes faults for threads started inside a dlopen'ed library; the
// initial-exec model puts these few bytes in glibc's static reserve for
// dlopen'ed modules and avoids the call altogether (it is also cheaper).
thread_local DWORD lastError __attribute__((tls_model("initial-exec"))) = 0;

} // namespace

// --- the last error ------------------------------------------------------------------------------

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

// Handles: the table of the kernel objects that handles stand for, and
// CloseHandle.
//
// Divisions, in order:
//   - the handle table: which handles are live, and the references that keep
//     an object alive while a call uses it
//   - closing: CloseHandle
//
// Where this differs from Windows, and why:
// - Handles are checked against a table of live handles, so that closing or
//   waiting on a handle twice fails with ERROR_INVALID_HANDLE as on Windows
//   instead of touching freed memory.
// - A handle is its object's address rather than an index into the process's
//   handle table, so each object has exactly one handle: there is no
//   DuplicateHandle, and nothing here needs one.
#include "platform/handletable.h"

#include <new>
#include <unordered_set>

// --- the handle table ----------------------------------------------------------------------------

namespace {

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

// A `kind` given must match the object's.
KernelObject* acquire(HANDLE handle, const ObjectKind* kind) {
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard<std::mutex> guard(tableLock());
    if (handle == nullptr || liveHandles().count(object) == 0 ||
        (kind != nullptr && object->kind != *kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    object->refs.fetch_add(1);
    return object;
}

} // namespace

HANDLE RegisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(tableLock());
    try {
        liveHandles().insert(object);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return object;
}

void UnregisterHandle(KernelObject* object) {
    std::lock_guard<std::mutex> guard(tableLock());
    liveHandles().erase(object);
}

KernelObject* AcquireObject(HANDLE handle, ObjectKind kind) {
    return acquire(handle, &kind);
}

KernelObject* AcquireAnyObject(HANDLE handle) {
    return acquire(handle, nullptr);
}

void ReleaseObject(KernelObject* object) {
    if (object->refs.fetch_sub(1) == 1) {
        delete object;
    }
}

// --- closing -------------------------------------------------------------------------------------

BOOL CloseHandle(HANDLE handle) {
    auto* object = static_cast<KernelObject*>(handle);
    {
        std::lock_guard<std::mutex> guard(tableLock());
        if (handle == nullptr || liveHandles().erase(object) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    ReleaseObject(object);
    return TRUE;
}

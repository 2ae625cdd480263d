// The kernel objects that handles stand for, and the table of live handles.
//
// Internal to the platform layer: handles.cpp keeps the table, threads.cpp
// and sync.cpp make the objects and wait on them.
#pragma once

#include "platform/kernel32.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

enum class ObjectKind { Thread, Event, File };

// An object a handle stands for. `lock` guards the state of the object's
// kind; `changed` is notified whenever that state changes in a way a waiter
// may be looking for. The object is freed when its last reference goes: the
// handle holds one, a call using the object another (see ObjectRef).
struct KernelObject {
    KernelObject(ObjectKind objectKind, int initialRefs) : kind(objectKind), refs(initialRefs) {}
    virtual ~KernelObject() = default;

    // Whether a wait on the object is satisfied now; called under `lock`.
    virtual bool IsSignalled() const = 0;
    // What a satisfied wait does to the object (an auto-reset event resets);
    // called under `lock`.
    virtual void OnWaitSatisfied() {}

    const ObjectKind kind;
    std::atomic<int> refs;
    std::mutex lock;
    std::condition_variable changed;
};

// Enters a new object in the table and answers its handle; null when the
// table cannot grow.
HANDLE RegisterHandle(KernelObject* object);
// Takes an object out of the table again, when its creation fails after
// RegisterHandle; the caller still frees it.
void UnregisterHandle(KernelObject* object);

// Looks a handle up and takes a reference on its object, so that a
// concurrent CloseHandle cannot free the object while the caller uses it.
// Null, with ERROR_INVALID_HANDLE, for a handle that is not live or (first
// form) whose object is not of `kind`.
KernelObject* AcquireObject(HANDLE handle, ObjectKind kind);
KernelObject* AcquireAnyObject(HANDLE handle);
// Gives a reference back, freeing the object with the last one.
void ReleaseObject(KernelObject* object);

// A reference taken by AcquireObject, given back when the scope ends.
class ObjectRef {
public:
    explicit ObjectRef(KernelObject* acquired) : object(acquired) {}
    ~ObjectRef() {
        if (object != nullptr) {
            ReleaseObject(object);
        }
    }
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    explicit operator bool() const { return object != nullptr; }
    template <typename T> T* As() const { return static_cast<T*>(object); }

private:
    KernelObject* object;
};

// Runs `call` on the object of `handle`, which must be an `Object` (a type
// with a `Kind`), under the object's lock; `failure` when the handle is no
// such object's.
template <typename Object, typename Result, typename Call>
Result WithLockedObject(HANDLE handle, Result failure, Call call) {
    ObjectRef ref(AcquireObject(handle, Object::Kind));
    if (!ref) {
        return failure;
    }
    auto* object = ref.As<Object>();
    std::lock_guard<std::mutex> guard(object->lock);
    return call(*object);
}

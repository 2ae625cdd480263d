// The root of hollin's reference-counted objects and of the numbered
// interfaces they hand out.
#pragma once

#include "platform/winapi.h"

class ObjectInterface;

// Interface ids answered by GetInterface.
enum InterfaceId : LONG {
    ObjectInterfaceId = 0,
    NamedInterfaceId = 17,
    CollectionInterfaceId = 18,
    ComparatorInterfaceId = 20,
    NodeInterfaceId = 257,
    FolderInterfaceId = 258,
    RecordInterfaceId = 259,
    ValueInterfaceId = 260,
};

// A reference count and numbered interfaces. Objects here are owned: their
// owner deletes them through the virtual destructor, and the count is
// bookkeeping for the interfaces handed out, unless the object was built
// with deleteOnRelease, in which case the last Release deletes it.
class RefObject {
public:
    explicit RefObject(LONG deleteOnRelease = 0) : refCount(0), deleteOnRelease(deleteOnRelease) {}
    // A copy starts uncounted; only the ownership mode is carried over.
    RefObject(const RefObject& other) : refCount(0), deleteOnRelease(other.deleteOnRelease) {}
    RefObject& operator=(const RefObject&) = delete;

    // Returns the count before the increment.
    virtual LONG AddRef();
    // Returns the count after the decrement (0 once a self-deleting object is gone).
    virtual LONG Release();
    // A new interface object for `id`, or null when the class has none.
    virtual ObjectInterface* GetInterface(LONG id);
    // Declared after GetInterface so that in every derived class the
    // destructor takes the slot right after it.
    virtual ~RefObject() = default;

    LONG GetRefCount() const { return refCount; }
    LONG DeletesOnRelease() const { return deleteOnRelease; }

private:
    LONG refCount;
    LONG deleteOnRelease;
};

// A separately counted handle on a RefObject, keeping it referenced while it
// lives. Derived interface objects keep these four operations first.
class ObjectInterface {
public:
    explicit ObjectInterface(RefObject* object);
    ObjectInterface(const ObjectInterface&) = delete;
    ObjectInterface& operator=(const ObjectInterface&) = delete;

    // Answers no id: writes null and returns E_NOINTERFACE.
    virtual HRESULT QueryInterface(LONG id, void** out);
    // Returns the count before the increment.
    virtual LONG AddRef();
    // Destroys the interface object (releasing its object) when the count
    // reaches 0, and then returns 0.
    virtual LONG Release();
    // Another interface of the same object.
    virtual ObjectInterface* GetInterface(LONG id);

    RefObject* TargetObject() const { return object; }

protected:
    virtual ~ObjectInterface();

    RefObject* object;

private:
    LONG refCount;
};

#include "support/RefObject.h"

#include <new>

LONG RefObject::AddRef() {
    return refCount++;
}

LONG RefObject::Release() {
    --refCount;
    if (deleteOnRelease != 0 && refCount == 0) {
        delete this;
        return 0;
    }
    return refCount;
}

ObjectInterface* RefObject::GetInterface(LONG id) {
    if (id != ObjectInterfaceId) {
        return nullptr;
    }
    return new (std::nothrow) ObjectInterface(this);
}

ObjectInterface::ObjectInterface(RefObject* target) : object(target), refCount(1) {
    if (object != nullptr) {
        object->AddRef();
    }
}

ObjectInterface::~ObjectInterface() {
    if (object != nullptr) {
        object->Release();
    }
}

HRESULT ObjectInterface::QueryInterface(LONG, void** out) {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_NOINTERFACE;
}

LONG ObjectInterface::AddRef() {
    return refCount++;
}

LONG ObjectInterface::Release() {
    if (--refCount == 0) {
        delete this;
        return 0;
    }
    return refCount;
}

ObjectInterface* ObjectInterface::GetInterface(LONG id) {
    return object != nullptr ? object->GetInterface(id) : nullptr;
}

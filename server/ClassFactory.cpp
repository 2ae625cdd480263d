#include "server/ClassFactory.h"

#include <new>

HRESULT ClassFactory::Create(CreateInstanceFunction creator, REFIID iid, void** out) {
    if (out != nullptr) {
        *out = nullptr;
    }
    auto* factory = new (std::nothrow) ClassFactory(creator);
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = factory->QueryInterface(iid, out);
    if (FAILED(result)) {
        delete factory;
    }
    return result;
}

ClassFactory::ClassFactory(CreateInstanceFunction creator) : refCount(0), createInstance(creator) {
    InitializeCriticalSection(&cacheLock);
}

ClassFactory::~ClassFactory() {
    DeleteCriticalSection(&cacheLock);
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IClassFactory*>(this);
    return S_OK;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    EnterCriticalSection(&cacheLock);
    LONG count = InterlockedIncrement(&refCount);
    if (count == 2) {
        theModule.IncrementLock(); // a client holds it beyond the cache
    }
    LeaveCriticalSection(&cacheLock);
    return ULONG(count);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    EnterCriticalSection(&cacheLock);
    LONG count = InterlockedDecrement(&refCount);
    LeaveCriticalSection(&cacheLock);
    if (count == 0) {
        delete this;
    } else if (count == 1) {
        theModule.DecrementLock();
    }
    return ULONG(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return createInstance(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        theModule.IncrementLock();
    } else {
        theModule.DecrementLock();
    }
    return S_OK;
}

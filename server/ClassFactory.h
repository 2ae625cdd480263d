// The class object through which a host creates protocol objects.
#pragma once

#include "server/ServerModule.h"

// Cached by the module, which holds one reference for its whole life; every
// further reference counts on the module lock count as a whole (taken when
// the count goes from 1 to 2, given back when it goes from 2 to 1).
class ClassFactory : public IClassFactory {
public:
    // Makes a class object for `creator` and asks it for `iid`; the object is
    // destroyed again when that fails.
    [[nodiscard]] static HRESULT Create(CreateInstanceFunction creator, REFIID iid, void** out);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    LONG GetRefCount() const { return refCount; }

private:
    explicit ClassFactory(CreateInstanceFunction creator);
    virtual ~ClassFactory();
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    LONG volatile refCount;
    CreateInstanceFunction createInstance;
    CRITICAL_SECTION cacheLock;
};

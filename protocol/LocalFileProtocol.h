// The COM object the browser drives for each dnswhois URL.
#pragma once

#include "protocol/Identifiers.h"
#include "protocol/ResultPage.h"
#include "protocol/WhoisRequest.h"

// The class's own interface: the object's identity; it declares no methods.
struct ILocalFileProtocol : public IUnknown {
protected:
    ~ILocalFileProtocol() = default;
};

// Owns one request at a time: Start begins it, LockRequest composes the page
// from its reply, Read hands the page out. Lives in the browser's apartment;
// only the request's worker thread runs beside it.
class LocalFileProtocol : public ILocalFileProtocol, public IInternetProtocol {
public:
    // Makes an object, plain (`outer` null) or aggregated inside `outer`, and
    // asks it for `iid` (the inner unknown's answer when aggregated). The
    // object is destroyed again when that fails.
    [[nodiscard]] static HRESULT Create(IUnknown* outer, REFIID iid, void** out);

    // IUnknown, shared by both interfaces; forwarded to the outer object when
    // aggregated.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink,
                                    IInternetBindInfo* bindInfo, DWORD flags,
                                    HANDLE_PTR reserved) override;
    HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA* data) override;
    HRESULT STDMETHODCALLTYPE Abort(HRESULT reason, DWORD options) override;
    HRESULT STDMETHODCALLTYPE Terminate(DWORD options) override;
    HRESULT STDMETHODCALLTYPE Suspend() override;
    HRESULT STDMETHODCALLTYPE Resume() override;
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPosition) override;
    HRESULT STDMETHODCALLTYPE LockRequest(DWORD options) override;
    HRESULT STDMETHODCALLTYPE UnlockRequest() override;

private:
    // The separate IUnknown of the aggregated form, with its own count.
    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(LocalFileProtocol* owner) : owner(owner), refCount(0) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        LocalFileProtocol* owner;
        LONG refCount;
    };

    explicit LocalFileProtocol(IUnknown* outer);
    virtual ~LocalFileProtocol();
    LocalFileProtocol(const LocalFileProtocol&) = delete;
    LocalFileProtocol& operator=(const LocalFileProtocol&) = delete;

    // The interface map: the object's own answer to `iid`, AddRefed.
    [[nodiscard]] HRESULT QueryOwnInterface(REFIID iid, void** out);
    [[nodiscard]] HRESULT QueryPlain(REFIID iid, void** out);

    LONG refCount;
    WhoisRequest* request;
    PageView page;
    bool replyTaken; // the request's reply has been shown by a page
    IUnknown* outer; // the controlling unknown when aggregated, else null
    InnerUnknown inner;
};

// The object map's instance creator for the class.
[[nodiscard]] HRESULT CreateProtocolObject(IUnknown* outer, REFIID iid, void** out);

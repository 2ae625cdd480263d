// urlmon stand-ins: the browser's asynchronous pluggable protocol interfaces,
// with the platform's method order, identifiers and constants.
#pragma once

#include "platform/ole32.h"

typedef ULONG_PTR HANDLE_PTR;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER;

typedef union _ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} ULARGE_INTEGER;

typedef struct _tagPROTOCOLDATA {
    DWORD grfFlags;
    DWORD dwState;
    LPVOID pData;
    ULONG cbData;
} PROTOCOLDATA;

// Only the leading fields: nothing here reads the bind information.
typedef struct _tagBINDINFO {
    ULONG cbSize;
    LPWSTR szExtraInfo;
    DWORD grfBindInfoF;
    DWORD dwBindVerb;
    LPWSTR szCustomVerb;
    DWORD cbstgmedData;
    DWORD dwOptions;
    DWORD dwOptionsFlags;
    DWORD dwCodePage;
} BINDINFO;

enum {
    BSCF_FIRSTDATANOTIFICATION = 0x01,
    BSCF_INTERMEDIATEDATANOTIFICATION = 0x02,
    BSCF_LASTDATANOTIFICATION = 0x04,
    BSCF_DATAFULLYAVAILABLE = 0x08,
    BSCF_AVAILABLEDATASIZEUNKNOWN = 0x10,
};

enum {
    BINDSTATUS_FINDINGRESOURCE = 1,
    BINDSTATUS_CONNECTING = 2,
    BINDSTATUS_REDIRECTING = 3,
    BINDSTATUS_BEGINDOWNLOADDATA = 4,
    BINDSTATUS_DOWNLOADINGDATA = 5,
    BINDSTATUS_ENDDOWNLOADDATA = 6,
    BINDSTATUS_MIMETYPEAVAILABLE = 13,
};

struct IInternetProtocolSink;
struct IInternetBindInfo;

struct IInternetProtocolRoot : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink* sink,
                                            IInternetBindInfo* bindInfo, DWORD flags,
                                            HANDLE_PTR reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort(HRESULT reason, DWORD options) = 0;
    virtual HRESULT STDMETHODCALLTYPE Terminate(DWORD options) = 0;
    virtual HRESULT STDMETHODCALLTYPE Suspend() = 0;
    virtual HRESULT STDMETHODCALLTYPE Resume() = 0;

protected:
    ~IInternetProtocolRoot() = default;
};

struct IInternetProtocol : public IInternetProtocolRoot {
    virtual HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                           ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRequest(DWORD options) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRequest() = 0;

protected:
    ~IInternetProtocol() = default;
};

struct IInternetProtocolSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportProgress(ULONG statusCode, LPCWSTR statusText) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportData(DWORD flags, ULONG progress,
                                                 ULONG progressMax) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportResult(HRESULT result, DWORD error,
                                                   LPCWSTR resultText) = 0;

protected:
    ~IInternetProtocolSink() = default;
};

struct IInternetBindInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBindString(ULONG stringType, LPOLESTR* strings,
                                                    ULONG count, ULONG* fetched) = 0;

protected:
    ~IInternetBindInfo() = default;
};

extern const IID IID_IInternetProtocolRoot;
extern const IID IID_IInternetProtocol;
extern const IID IID_IInternetProtocolSink;
extern const IID IID_IInternetBindInfo;

// A host's sink for the tests: counts what the protocol object reports, from
// whichever thread it reports, and lets a test wait for the completion.
#pragma once

#include "platform/winapi.h"

#include <atomic>
#include <string>

class TestSink : public IInternetProtocolSink {
public:
    TestSink() : completed(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    virtual ~TestSink() { CloseHandle(completed); }
    TestSink(const TestSink&) = delete;
    TestSink& operator=(const TestSink&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IInternetProtocolSink)) {
            AddRef();
            *out = static_cast<IInternetProtocolSink*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--references); }

    HRESULT STDMETHODCALLTYPE Switch(PROTOCOLDATA*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReportProgress(ULONG status, LPCWSTR text) override {
        if (status == BINDSTATUS_MIMETYPEAVAILABLE && text != nullptr &&
            std::u16string(reinterpret_cast<const char16_t*>(text)) == u"text/html") {
            ++mimeReports;
        } else {
            ++otherReports;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReportData(DWORD flags, ULONG progress, ULONG maximum) override {
        if (flags == BSCF_DATAFULLYAVAILABLE && progress == 1 && maximum == 1) {
            ++dataReports;
        } else {
            ++otherReports;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReportResult(HRESULT result, DWORD error, LPCWSTR text) override {
        if (result == S_OK && error == 0 && text == nullptr && dataReports > resultReports) {
            ++resultReports;
        } else {
            ++otherReports;
        }
        SetEvent(completed);
        return S_OK;
    }

    // Forgets earlier completions, so that the next wait is for a new one.
    void ForgetCompletion() { ResetEvent(completed); }
    bool WaitForCompletion(DWORD milliseconds = 10000) {
        return WaitForSingleObject(completed, milliseconds) == WAIT_OBJECT_0;
    }

    std::atomic<int> references{0};
    std::atomic<int> mimeReports{0};
    std::atomic<int> dataReports{0};
    std::atomic<int> resultReports{0};
    std::atomic<int> otherReports{0};

private:
    HANDLE completed;
};

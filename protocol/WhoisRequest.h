// The unit of work behind one URL: parses it, and runs the whois exchange on
// a worker thread of its own.
#pragma once

#include "protocol/SocketStream.h"
#include "protocol/WhoisSettings.h"
#include "protocol/WhoisUrl.h"
#include "support/TextString.h"
#include "support/WorkerThread.h"

#include <atomic>

class WhoisRequest : public WorkerThread {
public:
    // Takes a counted reference on `sink` (when not null) and the URL,
    // converted to the ANSI code page, and reads the user's settings.
    WhoisRequest(IInternetProtocolSink* sink, LPCWSTR url);
    ~WhoisRequest() override;

    // The whois exchange; runs on the worker thread. Returns 0 for a
    // completed or stopped exchange, else the failure's status.
    DWORD Run() override;

    // Applies the URL syntax; 1 when the URL was understood. A syntax error
    // has appended its lines and reported completion before this returns.
    LONG Parse();
    LONG EndParse(RequestStatus status);
    // Appends the status's lines (those of StatusUnknownError for a status
    // without lines) and, unless a stop was asked for, reports completion
    // to the sink. Returns the status; StatusOk does nothing.
    RequestStatus ReportStatus(RequestStatus status);
    // Tells the sink that the page will be HTML.
    void ReportMimeType();

    // Starts the worker thread on a parsed request.
    [[nodiscard]] LONG Start();
    // Gives up ownership of the request: when its thread has ended (or never
    // ran), it is deleted now. A request still running is cut loose instead:
    // it is told to stop, reports nothing more, lets go of the sink, and
    // deletes itself when its thread ends. Nothing the thread still uses is
    // freed under it, and the module stays loaded until then.
    static void Discard(WhoisRequest* request);

    // Whether the exchange has finished writing the reply buffer (it has
    // reported, failed or stopped), so that the buffer may be read.
    bool IsComplete() const;
    // Whether everything the request was made with could be allocated (its
    // stream and buffers, its copy of the URL, its stop event).
    bool IsUsable() const;
    SocketStream* GetStream() const { return stream; }

    // The longest a connection may take to be made (then: status 7), and
    // the longest the server may stay silent (then: status 6).
    static const DWORD ConnectTimeout = 10000;
    static const DWORD ReceiveTimeout = 30000;
    // Waits are cut into slices of this length, to notice a stop request.
    static const DWORD WaitSlice = 50;
    // Tests use shorter time-outs; the system uses the settings' (by
    // default the constants above).
    void SetTimeouts(DWORD connectMilliseconds, DWORD receiveMilliseconds);

private:
    // The ownership of a request between its owner and its thread.
    enum Lifecycle : LONG { Idle, Running, Finished, Abandoned };

    RequestStatus Exchange();
    RequestStatus ConnectToServer(const addrinfo* address, DWORD serverPort, SOCKET& connected,
                                  bool& stopped);
    SocketWait Connect(SOCKET s, const sockaddr* target, int length, bool& stopped);
    RequestStatus ReceiveReply(bool& stopped);
    void ReportCompletion();
    // The reply is written: marks it complete and, unless a stop was asked
    // for, reports completion to the sink.
    void CompleteReply();
    bool FollowsReferrals() const;
    RequestStatus AskChain(bool& stopped);
    // What asking RDAP came to: not asked (RDAP is off, the question is none
    // it can answer, no service is known for it, or it was asked already),
    // an answer shown, or a failure line shown.
    enum RdapResult { RdapNotAsked, RdapAnswered, RdapFailed };
    // Asks RDAP once per request, when the bootstrap files name a service
    // for the query. `portFailure` is why port 43 gave no answer (StatusOk
    // for none): its lines then go on the page before RDAP's answer.
    RdapResult AskRdap(RequestStatus portFailure, bool& stopped);
    RdapResult AskRdapService(RequestStatus portFailure, bool& stopped);
    // One server: resolve, connect, send the query, receive the reply.
    RequestStatus Converse(LPCSTR host, DWORD serverPort, bool& stopped);
    // Reports the exchange's outcome to the host (nothing when stopped).
    RequestStatus Report(RequestStatus status, bool stopped);
    void CloseAnsweredSocket();
    void MarkComplete() { complete.store(true, std::memory_order_release); }
    // The thread's last act: marks the run finished, or, when the owner has
    // cut the request loose in the meantime, deletes it.
    void EndRun();
    [[nodiscard]] bool SwitchLifecycle(Lifecycle from, Lifecycle to);

    IInternetProtocolSink* sink;
    TextString url;
    SocketStream* stream;
    TextString server;
    TextString query;
    DWORD port;
    LONG parsedOk;
    WhoisSettings settings;
    bool simpleShape;
    // In a chain, the line that names the server that failed, if one did.
    TextString failedServerLine;
    bool rdapAsked;
    bool urlCopied;
    SOCKET answeredSocket; // the last server's connection, until it is closed

    CRITICAL_SECTION reportLock; // between reports and cutting the request loose
    std::atomic<LONG> lifecycle;
    std::atomic<bool> complete;
    DWORD connectTimeout;
    DWORD receiveTimeout;
};

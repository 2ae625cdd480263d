// RDAP in the lookup chain: where port 43 gives no answer (the default
// server's record names no whois server, or the server it refers to cannot
// be resolved or connected), or first when PreferRdap asks for it.
#include "protocol/RdapBootstrap.h"
#include "protocol/RdapPage.h"
#include "protocol/ResultPage.h"
#include "protocol/WhoisRequest.h"

#include <new>
#include <string>

namespace {

// HttpFetch with the request's time-outs, stop event and trusted
// authorities.
class RequestFetcher : public RdapFetcher {
public:
    RequestFetcher(const WhoisSettings& settings, DWORD connect, DWORD receive, HANDLE stop)
        : caFile(settings.rdapCaFile.IsEmpty() ? nullptr : settings.rdapCaFile.GetText()),
          connectTimeout(connect), receiveTimeout(receive), stopEvent(stop) {}

    HttpOutcome Fetch(const char* url, const char* accept, RdapResponse& response) override {
        HttpGetRequest request = {url,         accept,   caFile, connectTimeout, receiveTimeout,
                                  MaxRdapBody, stopEvent};
        HttpResponse fetched = {};
        HttpOutcome outcome = HttpFetch(request, fetched);
        response.status = fetched.status;
        response.location = fetched.location != nullptr ? fetched.location : "";
        response.body.assign(fetched.body != nullptr ? reinterpret_cast<char*>(fetched.body) : "",
                             fetched.body != nullptr ? fetched.bodyLength : 0);
        response.failedCall.assign(fetched.failedCall,
                                   strnlen(fetched.failedCall, sizeof fetched.failedCall));
        response.systemError = fetched.systemError;
        HttpFreeResponse(fetched);
        return outcome;
    }

private:
    LPCSTR caFile;
    DWORD connectTimeout;
    DWORD receiveTimeout;
    HANDLE stopEvent;
};

// Keeps each line of `lines` (the system's own) through the stream's bound.
void keepLines(SocketStream& stream, const ByteBuffer& lines) {
    std::string text(reinterpret_cast<const char*>(lines.GetData()), lines.GetLength());
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        stream.KeepLine(text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

} // namespace

WhoisRequest::RdapResult WhoisRequest::AskRdap(RequestStatus portFailure, bool& stopped) {
    if (rdapAsked || settings.rdapBootstrap.IsEmpty() || stream->WasCut()) {
        return RdapNotAsked;
    }
    rdapAsked = true;
    CloseAnsweredSocket(); // the whois server has said all it will
    // The standard library and the JSON reader throw when memory runs out;
    // nothing of that leaves here.
    try {
        return AskRdapService(portFailure, stopped);
    } catch (...) {
        stream->KeepLine("<p><B>RDAP gave no answer</B></p><p><I>Out of memory.</I></p>");
        return RdapFailed;
    }
}

WhoisRequest::RdapResult WhoisRequest::AskRdapService(RequestStatus portFailure, bool& stopped) {
    RdapQuestion question;
    if (!ClassifyRdapQuestion(query.GetText(), question)) {
        return RdapNotAsked;
    }
    RequestFetcher fetcher(settings, connectTimeout, receiveTimeout, GetStopEvent());
    std::string base;
    std::string failure;
    switch (RdapBootstrapCache::Shared().FindService(fetcher, settings.rdapBootstrap.GetText(),
                                                     question, GetTickCount(), base, failure)) {
    case RdapBootstrapCache::Lookup::Found:
        break;
    case RdapBootstrapCache::Lookup::Stopped:
        stopped = true;
        return RdapFailed;
    case RdapBootstrapCache::Lookup::Unavailable:
        // Said on the page, which otherwise stays what port 43 gave.
        stream->KeepLine(
            ("<p><I>RDAP could not be asked: " + RdapShownText(failure, 180) + "</I></p>").c_str());
        return RdapNotAsked;
    default:
        return RdapNotAsked;
    }
    // Why port 43 gave no answer, before the answer RDAP gives.
    if (portFailure != StatusOk) {
        ByteBuffer lines;
        AppendStatusLines(lines, portFailure);
        if (!failedServerLine.IsEmpty()) {
            lines.AppendLine(failedServerLine.GetText());
        }
        keepLines(*stream, lines);
        failedServerLine.Assign("");
    }
    RdapAnswer answer;
    FetchRdap(fetcher, base + RdapQuestionPath(question), RdapMediaType, answer);
    std::string related;
    bool shown = answer.outcome != HttpStopped && WriteRdapAnswer(*stream, answer, &related);
    // A thin registry's answer names the registrar's: asked once, shown after.
    if (shown && !related.empty() && related != answer.url && related != answer.finalUrl) {
        FetchRdap(fetcher, related, RdapMediaType, answer);
        if (answer.outcome != HttpStopped) {
            WriteRdapAnswer(*stream, answer, nullptr);
        }
    }
    if (answer.outcome == HttpStopped) {
        stopped = true;
    }
    return shown ? RdapAnswered : RdapFailed;
}

// The page of any RDAP answer a server may send: the first byte picks the
// HTTP status (200 or an error), the rest is the body. The page must be
// whole and within its bound, and hold nothing of the server's unescaped:
// every '<' opens one of the system's own tags.
#include "PageCheck.h"
#include "protocol/RdapPage.h"
#include "protocol/ResultPage.h"

#include <cstring>
#include <string>

namespace {

bool opensOwnTag(const std::string& text, size_t at) {
    for (const char* tag : {"<B>", "</B>", "<I>", "</I>", "<p>", "</p>"}) {
        if (text.compare(at, std::strlen(tag), tag) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    RdapAnswer answer;
    answer.url = answer.finalUrl = "http://127.0.0.1:1/domain/example.com";
    answer.outcome = HttpDone;
    answer.status = data[0] < 0xF0 ? 200 : 400 + data[0] - 0xF0;
    answer.body.assign(reinterpret_cast<const char*>(data + 1), size - 1);

    SocketStream stream;
    std::string related;
    bool shown = WriteRdapAnswer(stream, answer, &related);
    require(shown || related.empty());
    std::string written(reinterpret_cast<const char*>(stream.GetIncoming()->GetData()),
                        stream.GetIncoming()->GetLength());
    for (size_t at = written.find('<'); at != std::string::npos; at = written.find('<', at + 1)) {
        require(opensOwnTag(written, at));
    }
    if (stream.WasCut()) {
        AppendCutNotice(*stream.GetIncoming());
    }
    ByteBuffer page(PageMaxSize);
    ComposePage(page, *stream.GetIncoming());
    requireWholePage(page);
    return 0;
}

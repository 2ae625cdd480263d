// URLs as a browser hands them over (UTF-16, converted to the ANSI code
// page), parsed into server, port and query.
#include "FuzzSupport.h"
#include "protocol/WhoisUrl.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes are UTF-16 code units, as the browser passes a URL.
    std::basic_string<WCHAR> wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
        WCHAR unit = WCHAR(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        wide.push_back(unit);
    }
    TextString url;
    url.AssignWide(wide.c_str());
    TextString server;
    TextString query;
    DWORD port = 0;
    if (ParseWhoisUrl(url, server, port, query) != StatusOk) {
        require(port == 0 && server.GetText() == nullptr && query.GetText() == nullptr);
        return 0;
    }
    // A parsed URL names a server and a port, and its query is the URL's tail.
    require(server.GetText() != nullptr && server.GetLength() > 0 && port != 0);
    require(query.GetText() != nullptr);
    std::string text = url.GetText();
    std::string tail = query.GetText();
    require(text.size() >= tail.size() &&
            text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
    return 0;
}

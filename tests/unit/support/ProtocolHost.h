// What the protocol tests need to play the browser: a way to make protocol
// objects (from the static library, or through hollin.so's exports), a
// browser that drives one, and the fixed parts of a page.
#pragma once

#include "LoopbackServer.h"
#include "TestSink.h"

#include "platform/winapi.h"
#include "support/ByteBuffer.h"

#include <string>

// How a test makes protocol objects, and asks whether the code that made
// them holds no more locks (nothing of it is in use).
struct ObjectMaker {
    const char* name;
    HRESULT (*create)(IUnknown* outer, REFIID iid, void** out);
    bool (*idle)();
};

// Waits, for up to twenty seconds, until requests cut loose by earlier steps
// have ended and the maker's code is idle.
bool WaitUntilIdle(const ObjectMaker& maker);

extern const std::string PageHeader;  // the header line with its line feed
extern const std::string PageTrailer; // separator, footer and closing lines
std::string Contents(const ByteBuffer& buffer);
std::string StatusLines(LONG status);
// Whether `kept`, the part of a reply before the cut notice, is the head of
// `full` with no gap, ending on a line feed (one added at the cut when the
// cut fell inside a line).
bool IsCutHead(const std::string& kept, const std::string& full);
std::string UrlFor(WORD port, const std::string& query); // on 127.0.0.1
std::string UrlFor(const LoopbackServer& server, const std::string& query);

// One protocol object driven the way a browser drives it.
class Browser {
public:
    explicit Browser(const ObjectMaker& maker);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    HRESULT Start(const std::string& url);
    // Waits for the completion, then locks, reads the whole page and unlocks.
    std::string Page();
    std::string ReadAll(ULONG pieceSize);
    std::string Open(const std::string& url);
    void Release();

    IInternetProtocol* protocol = nullptr;
    TestSink sink;
};

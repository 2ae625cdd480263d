#include "ProtocolHost.h"

#include "protocol/ResultPage.h"

#include <gtest/gtest.h>

const std::string PageHeader = std::string(PageHeaderLine) + "\n";
const std::string PageTrailer =
    std::string(PageSeparatorLine) + "\n" + PageFooterLine + "\n" + PageClosingLine + "\n";

std::string Contents(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetLength());
}

std::string StatusLines(LONG status) {
    ByteBuffer lines(PageMaxSize);
    AppendStatusLines(lines, status);
    return Contents(lines);
}

std::string UrlFor(WORD port, const std::string& query) {
    return "dnswhois://127.0.0.1:" + std::to_string(port) + "/" + query;
}

std::string UrlFor(const LoopbackServer& server, const std::string& query) {
    return UrlFor(server.Port(), query);
}

bool IsCutHead(const std::string& kept, const std::string& full) {
    if (kept.empty() || kept.back() != '\n' || kept.size() > full.size() + 1) {
        return false;
    }
    return full.compare(0, kept.size(), kept) == 0 ||
           (full[kept.size() - 1] != '\n' &&
            full.compare(0, kept.size() - 1, kept, 0, kept.size() - 1) == 0);
}

bool WaitUntilIdle(const ObjectMaker& maker) {
    for (int i = 0; i < 4000 && !maker.idle(); ++i) {
        Sleep(5);
    }
    return maker.idle();
}

Browser::Browser(const ObjectMaker& maker) {
    EXPECT_EQ(maker.create(nullptr, IID_IInternetProtocol, reinterpret_cast<void**>(&protocol)),
              S_OK);
}

Browser::~Browser() {
    Release();
}

void Browser::Release() {
    if (protocol != nullptr) {
        protocol->Release();
        protocol = nullptr;
    }
}

HRESULT Browser::Start(const std::string& url) {
    // Byte by byte, as Latin-1: "\xfc" is U+00FC.
    std::u16string text;
    for (unsigned char c : url) {
        text += char16_t(c);
    }
    return protocol->Start(reinterpret_cast<LPCWSTR>(text.c_str()), &sink, nullptr, 0, 0);
}

std::string Browser::Page() {
    EXPECT_TRUE(sink.WaitForCompletion());
    protocol->LockRequest(0);
    std::string page = ReadAll(4096);
    protocol->UnlockRequest();
    return page;
}

std::string Browser::ReadAll(ULONG pieceSize) {
    std::string page;
    std::string piece(pieceSize, '\0');
    ULONG count = 0;
    while (protocol->Read(&piece[0], pieceSize, &count) == S_OK) {
        EXPECT_GT(count, 0u);
        page.append(piece, 0, count);
    }
    EXPECT_EQ(count, 0u);
    return page;
}

std::string Browser::Open(const std::string& url) {
    EXPECT_EQ(Start(url), S_OK);
    return Page();
}

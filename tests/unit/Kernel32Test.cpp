// What hollin relies on from kernel32. These run against the real Windows
// API under Wine and against the stand-ins on Linux, so that both answer
// alike.
#include "platform/winapi.h"
#ifndef _WIN32
#include "support/ProcessThreads.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(Kernel32Events, AutoResetReleasesOneWaitThenResets) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Kernel32Events, ManualResetStaysSignalled) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

DWORD WINAPI returnParameter(LPVOID parameter) {
    return DWORD(reinterpret_cast<ULONG_PTR>(parameter));
}

TEST(Kernel32Threads, ExitCodeIsStillActiveUntilTheRoutineReturns) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, returnParameter, reinterpret_cast<LPVOID>(17),
                                 CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 17u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    EXPECT_TRUE(CloseHandle(thread));
}

DWORD WINAPI leaveAnError(LPVOID parameter) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return DWORD(reinterpret_cast<ULONG_PTR>(parameter));
}

DWORD WINAPI returnLastError(LPVOID) {
    return GetLastError();
}

// Threads that follow one another (which the stand-ins may run on one
// system thread) each start afresh: their own routine and parameter, no last
// error, and a suspended one runs only once resumed.
TEST(Kernel32Threads, EachThreadStartsAfresh) {
    for (int round = 0; round < 3; ++round) {
        HANDLE first = CreateThread(nullptr, 0, leaveAnError,
                                    reinterpret_cast<LPVOID>(ULONG_PTR(round + 5)), 0, nullptr);
        ASSERT_NE(first, nullptr);
        DWORD code = 0;
        EXPECT_EQ(WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeThread(first, &code));
        EXPECT_EQ(code, DWORD(round + 5));
        CloseHandle(first);

        HANDLE second =
            CreateThread(nullptr, 0, returnLastError, nullptr, CREATE_SUSPENDED, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(WaitForSingleObject(second, 20), WAIT_TIMEOUT);
        ResumeThread(second);
        EXPECT_EQ(WaitForSingleObject(second, INFINITE), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeThread(second, &code));
        EXPECT_EQ(code, 0u);
        CloseHandle(second);
    }
}

TEST(Kernel32CodePages, TheAnsiCodePageIsWindows1252) {
    char out[16] = {};
    const WCHAR* wide = WIDE_TEXT("\u00e9\u20ac\u0152x\u4e2d");
    int written = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, nullptr);
    EXPECT_EQ(written, 6);
    EXPECT_EQ(std::string(out), "\xe9\x80\x8cx?");

    WCHAR back[16] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xe9\x80", -1, back, 16), 3);
    EXPECT_EQ(back[0], 0x00E9);
    EXPECT_EQ(back[1], 0x20AC);
}

// UTF-8 both ways, with the answers of the system's own conversion: well-formed
// text exactly, and malformed input only as replacement characters, never as
// other characters made of its bytes.
std::u16string fromUtf8(const std::string& bytes) {
    WCHAR out[32] = {};
    int written = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), out, 32);
    return std::u16string(reinterpret_cast<const char16_t*>(out), size_t(written));
}

std::string toUtf8(const std::u16string& text) {
    char out[64] = {};
    int written = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWSTR>(text.data()),
                                      int(text.size()), out, 64, nullptr, nullptr);
    return std::string(out, size_t(written));
}

// Whether `text` is one or more U+FFFD followed by `tail`.
bool replacedThen(const std::u16string& text, const std::u16string& tail) {
    size_t end = text.size() - std::min(text.size(), tail.size());
    return end > 0 && text.compare(end, std::u16string::npos, tail) == 0 &&
           text.find_first_not_of(u'\uFFFD') == end;
}

TEST(Kernel32CodePages, Utf8WellFormedTextConvertsExactlyBothWays) {
    const std::string bytes = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    const std::u16string text = u"a\u00e9\u20ac\U0001F600";
    EXPECT_EQ(fromUtf8(bytes), text) << "two-, three- and four-byte forms; a surrogate pair";
    EXPECT_EQ(toUtf8(text), bytes);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, nullptr, 0), 6)
        << "no room asks for the size, with the NUL";
}

TEST(Kernel32CodePages, MalformedUtf8AndLoneSurrogatesBecomeReplacementCharacters) {
    EXPECT_TRUE(replacedThen(fromUtf8("\xc0\xafx"), u"x")) << "an overlong '/'";
    EXPECT_TRUE(replacedThen(fromUtf8("\xe0\x80\xafx"), u"x")) << "an overlong '/' in three bytes";
    EXPECT_TRUE(replacedThen(fromUtf8("\xe2\x82x"), u"x")) << "a truncated sequence";
    EXPECT_TRUE(replacedThen(fromUtf8("\xed\xa0\x80x"), u"x")) << "an encoded surrogate";
    EXPECT_TRUE(replacedThen(fromUtf8("\x80x"), u"x")) << "a lone continuation byte";
    EXPECT_EQ(toUtf8(u"\xD800x"), "\xef\xbf\xbdx") << "a lone high surrogate";
    EXPECT_EQ(toUtf8(u"x\xDC00"), "x\xef\xbf\xbd") << "a lone low surrogate";
}

TEST(Kernel32CodePages, TooSmallAnOutputFails) {
    char out[2];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WIDE_TEXT("abc"), -1, out, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, WIDE_TEXT("abc"), -1, nullptr, 0, nullptr, nullptr), 4)
        << "no room asks for the size";
}

TEST(Kernel32Text, CompareIgnoringCase) {
    EXPECT_EQ(lstrcmpiA("CLSID", "clsid"), 0);
    EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
    EXPECT_GT(lstrcmpiA("b", "A"), 0);
    EXPECT_LT(lstrcmpiA("ab", "abc"), 0);
    EXPECT_EQ(lstrcmpiA("\xc9t\xe9", "\xe9T\xc9"), 0) << "Latin-1 letters fold too";
    EXPECT_NE(lstrcmpA("a", "A"), 0);
    EXPECT_EQ(lstrlenA("four"), 4);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    char buffer[8];
    lstrcpynA(buffer, "truncated", 6);
    EXPECT_STREQ(buffer, "trunc");
}

TEST(Kernel32Sync, CriticalSectionsMayBeEnteredAgainByTheirOwner) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
    LONG volatile count = 0;
    EXPECT_EQ(InterlockedIncrement(&count), 1);
    EXPECT_EQ(InterlockedDecrement(&count), 0);
    EXPECT_EQ(InterlockedDecrement(&count), -1);
}

#ifndef _WIN32
DWORD WINAPI waitForEvent(LPVOID event) {
    return WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
}

// Threads kept idle after their routines are gone once released, long
// before they would leave by themselves: the module that holds their code
// may then be unloaded.
TEST(Kernel32Threads, ReleasedIdleThreadsAreGone) {
    // A first thread, so that threads a runtime starts once with it (a
    // sanitizer's own) are counted before; threads of earlier tests may
    // still be ending.
    HANDLE first = CreateThread(nullptr, 0, returnParameter, nullptr, 0, nullptr);
    ASSERT_NE(first, nullptr);
    WaitForSingleObject(first, INFINITE);
    CloseHandle(first);
    for (int i = 0; i < 500 && !ReleaseIdleThreads(); ++i) {
        Sleep(10);
    }
    ASSERT_TRUE(ReleaseIdleThreads());
    const int before = ThreadsOfProcess();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[4];
    for (HANDLE& thread : threads) { // all at once: four system threads
        thread = CreateThread(nullptr, 0, waitForEvent, go, 0, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    SetEvent(go);
    for (HANDLE thread : threads) {
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    CloseHandle(go);
    EXPECT_TRUE(ReleaseIdleThreads());
    // Joined; the system lists a joined thread a moment longer at most.
    for (int i = 0; i < 100 && ThreadsOfProcess() > before; ++i) {
        Sleep(10);
    }
    EXPECT_LE(ThreadsOfProcess(), before);
}

// Populating a buffer only makes its pages present: what is in it stays, a
// range of part pages is a range of no whole page, and what was present
// before is left as it was.
TEST(Kernel32Memory, PopulatingKeepsTheBytes) {
    std::string bytes(5 * 4096 + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = char('a' + i % 26);
    }
    const std::string before = bytes;
    PopulateMemory(&bytes[0], bytes.size());
    EXPECT_EQ(bytes, before);
    EXPECT_FALSE(PopulateMemory(&bytes[1], 100)) << "no whole page within";
    EXPECT_FALSE(PopulateMemory(nullptr, 0));
}

// The stand-in guards its handles; Windows would touch freed kernel memory
// only in its own table, so the same call answers FALSE there too.
TEST(Kernel32Handles, AClosedHandleIsRefused) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(event));
}
#endif

} // namespace

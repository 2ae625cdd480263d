// user32 stand-ins.
#include "platform/user32.h"

#include <unistd.h>

#include <atomic>

namespace {
std::atomic<unsigned long> beeps{0};
}

BOOL MessageBeep(UINT) {
    beeps.fetch_add(1);
    if (isatty(STDERR_FILENO)) {
        ssize_t ignored = write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
    return TRUE;
}

LPSTR CharNextA(LPCSTR text) {
    if (text == nullptr) {
        return nullptr;
    }
    return const_cast<LPSTR>(*text == '\0' ? text : text + 1);
}

unsigned long MessageBeepCount() {
    return beeps.load();
}

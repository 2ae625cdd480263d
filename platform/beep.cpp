// The beep: MessageBeep, which registration gives when it cannot open the
// handler key.
//
// Divisions, in order:
//   - the beep: MessageBeep, and the count of beeps given
//
// Where this differs from Windows, and why:
// - There is no sound scheme: every beep type rings the terminal's bell, and
//   only when standard error is a terminal (a program whose output goes to a
//   file or a pipe beeps silently).
// - Each beep is counted (MessageBeepCount, not a Windows call), so that tests
//   can tell whether a beep was given.
#include "platform/user32.h"

#include <unistd.h>

#include <atomic>

namespace {
std::atomic<unsigned long> beeps{0};
}

// --- the beep ------------------------------------------------------------------------------------

BOOL MessageBeep(UINT) {
    beeps.fetch_add(1);
    if (isatty(STDERR_FILENO)) {
        ssize_t ignored = write(STDERR_FILENO, "\a", 1);
        (void)ignored;
    }
    return TRUE;
}

unsigned long MessageBeepCount() {
    return beeps.load();
}

// Memory: making fresh pages present before they are filled.
//
// Divisions, in order:
//   - populating: PopulateMemory
//
// Where this differs from Windows, and why:
// - PopulateMemory is not a Windows call; Windows has none that makes
//   private memory present, and there it does nothing (see platform/winapi.h).
//   Here the first touch of each fresh page of memory faults on its own, and
//   on a virtual machine a fault can cost more than the system's whole
//   exchange with a whois server nearby; one madvise(MADV_POPULATE_WRITE)
//   makes a run of pages present for a fraction of that. Kernels before 5.14
//   refuse that advice: the call then answers FALSE, and the pages fault in
//   as they are touched, as without it.
#include "platform/kernel32.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

// --- populating ----------------------------------------------------------------------------------

BOOL PopulateMemory(void* start, SIZE_T size) {
#ifdef MADV_POPULATE_WRITE
    // Only the whole pages within the range: advice is given a page at a
    // time, and a page the range shares with its neighbours is theirs too.
    const uintptr_t pageSize = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(start) + pageSize - 1) & ~(pageSize - 1);
    const uintptr_t end = (uintptr_t(start) + size) & ~(pageSize - 1);
    if (start == nullptr || end <= first) {
        return FALSE;
    }
    return madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0 ? TRUE
                                                                                          : FALSE;
#else
    (void)start;
    (void)size;
    return FALSE;
#endif
}

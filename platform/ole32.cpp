// ole32 stand-ins.
#include "platform/ole32.h"

#include <cstdlib>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

LPVOID CoTaskMemAlloc(SIZE_T bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void CoTaskMemFree(LPVOID memory) {
    std::free(memory);
}

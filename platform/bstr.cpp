// System strings: the BSTR, a text that carries its length.
//
// Divisions, in order:
//   - system strings: SysAllocString and SysFreeString
//
// Where this differs from Windows, and why:
// - A BSTR is a block of the C heap (malloc), not of the COM task allocator,
//   and is freed at once: there is no cache of freed strings to hide a string
//   used after it was freed.
// - Only SysAllocString and SysFreeString are here: nothing else of the
//   family is called.
#include "platform/oleaut32.h"

#include "platform/kernel32.h"

#include <cstdlib>
#include <cstring>

// --- system strings ------------------------------------------------------------------------------

namespace {

BSTR allocString(const OLECHAR* text, UINT length) {
    if (length > (0x7FFFFFFFu - sizeof(uint32_t)) / sizeof(OLECHAR) - 1) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(
        std::malloc(sizeof(uint32_t) + (size_t(length) + 1) * sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    uint32_t bytes = uint32_t(length * sizeof(OLECHAR));
    std::memcpy(block, &bytes, sizeof bytes);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
    if (text != nullptr) {
        std::memcpy(chars, text, length * sizeof(OLECHAR));
    } else {
        std::memset(chars, 0, length * sizeof(OLECHAR));
    }
    chars[length] = 0;
    return chars;
}

} // namespace

BSTR SysAllocString(const OLECHAR* text) {
    return text == nullptr ? nullptr : allocString(text, UINT(lstrlenW(text)));
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
    }
}

// GUIDs: the identifiers of the interfaces ole32 declares, and GUIDs as
// text.
//
// Divisions, in order:
//   - interface identifiers: IID_IUnknown and IID_IClassFactory
//   - GUIDs as text: CLSIDFromString, and the forms the layer reads and
//     writes (ParseGuid, FormatGuid)
//
// Where this differs from Windows, and why:
// - CLSIDFromString reads only the braced form of a GUID, where Windows also
//   looks a ProgID up in the registry; nothing here names a class by ProgID.
#include "platform/ole32.h"

#include "platform/chars.h"
#include "platform/guidtext.h"

#include <cstdio>
#include <cstdlib>

// --- interface identifiers -----------------------------------------------------------------------

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// --- GUIDs as text -------------------------------------------------------------------------------

bool ParseGuid(const std::string& digits, GUID& guid) {
    static const size_t DashPositions[] = {8, 13, 18, 23};
    if (digits.size() != 36) {
        return false;
    }
    for (size_t i = 0; i < digits.size(); ++i) {
        bool dash = i == DashPositions[0] || i == DashPositions[1] || i == DashPositions[2] ||
                    i == DashPositions[3];
        if (dash ? digits[i] != '-' : HexDigitValue(digits[i]) < 0) {
            return false;
        }
    }
    auto hex = [&](size_t at, size_t count) {
        return std::strtoul(digits.substr(at, count).c_str(), nullptr, 16);
    };
    guid.Data1 = uint32_t(hex(0, 8));
    guid.Data2 = uint16_t(hex(9, 4));
    guid.Data3 = uint16_t(hex(14, 4));
    guid.Data4[0] = uint8_t(hex(19, 2));
    guid.Data4[1] = uint8_t(hex(21, 2));
    for (size_t i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = uint8_t(hex(24 + 2 * i, 2));
    }
    return true;
}

std::string FormatGuid(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

HRESULT CLSIDFromString(const OLECHAR* text, CLSID* classId) {
    if (text == nullptr || classId == nullptr) {
        return E_INVALIDARG;
    }
    std::string narrow;
    for (const OLECHAR* c = text; *c != 0; ++c) {
        if (*c > 0x7F) {
            return CO_E_CLASSSTRING;
        }
        narrow += char(*c);
    }
    if (narrow.size() != 38 || narrow.front() != '{' || narrow.back() != '}' ||
        !ParseGuid(narrow.substr(1, 36), *classId)) {
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}

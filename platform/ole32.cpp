// ole32 stand-ins.
#include "platform/ole32.h"

#include "platform/idlreader.h"

#include <string>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

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
        !idl::parseGuid(narrow.substr(1, 36), *classId)) {
        return CO_E_CLASSSTRING;
    }
    return S_OK;
}

// Reads what registration needs from a type library's IDL text: the
// library's identity and the interfaces that go into it.
//
// Internal to the platform layer (the LoadTypeLib stand-in). Understands the
// declarations of an IDL file as widl and MIDL take it (imports, attribute
// lists, interface, dispinterface, coclass and library blocks, comments) and
// passes over everything else up to its closing ";".
#pragma once

#include "platform/oleaut32.h"

#include <string>
#include <vector>

namespace idl {

struct Interface {
    std::string name;
    GUID iid{};
    bool dispatch = false;   // a dispinterface
    bool automation = false; // [oleautomation] or [dual]
};

struct Library {
    std::string name;
    GUID guid{};
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    LCID lcid = 0;
    WORD flags = 0; // LIBFLAG_*
    std::string helpString;
    // Interfaces declared in the library block or named there (by a coclass
    // or a forward declaration), in the order they were met.
    std::vector<Interface> interfaces;
};

// False when the text holds no library block with a uuid, or is not IDL.
bool Read(const std::string& text, Library& library);

} // namespace idl

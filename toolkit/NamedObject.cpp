#include "toolkit/NamedObject.h"

#include "support/TextString.h"

#include <new>

NamedObject::NamedObject(LPCSTR text) {
    SetName(text);
}

NamedObject::NamedObject(const NamedObject& other) : RefObject(other) {
    SetName(other.name);
}

NamedObject::~NamedObject() {
    delete[] name;
}

ObjectInterface* NamedObject::GetInterface(LONG id) {
    if (id == NamedInterfaceId) {
        return new (std::nothrow) NamedInterface(this);
    }
    return RefObject::GetInterface(id);
}

NamedObject* NamedObject::Clone() {
    return new (std::nothrow) NamedObject(*this);
}

void NamedObject::SetName(LPCSTR text) {
    LPSTR copy = (text != nullptr && text[0] != '\0') ? CopyText(text) : nullptr;
    delete[] name;
    name = copy;
}

LONG NamedObject::NameEquals(LPCSTR text) const {
    if (name == nullptr || text == nullptr) {
        return 0;
    }
    return lstrcmpiA(name, text) == 0 ? 1 : 0;
}

NamedObject* NamedObject::MatchName(LPCSTR text) {
    return NameEquals(text) ? this : nullptr;
}

void NamedInterface::SetName(LPCSTR text) {
    Named()->SetName(text);
}

LPCSTR NamedInterface::GetName() {
    return Named()->GetName();
}

LONG NamedInterface::NameEquals(LPCSTR text) {
    return Named()->NameEquals(text);
}

NamedObject* NamedInterface::MatchName(LPCSTR text) {
    return Named()->MatchName(text);
}

NamedObject* NamedInterface::Clone() {
    return Named()->Clone();
}

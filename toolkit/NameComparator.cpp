#include "toolkit/NameComparator.h"

#include "toolkit/NamedObject.h"

namespace {

// Whether `object` answers id 17; if so, its name (null when nameless). The
// interface is released at once: the name belongs to the object, not to it.
bool nameOf(RefObject* object, LPCSTR* name) {
    if (object == nullptr) {
        return false;
    }
    auto* named = static_cast<NamedInterface*>(object->GetInterface(NamedInterfaceId));
    if (named == nullptr) {
        return false;
    }
    *name = named->GetName();
    named->Release();
    return true;
}

} // namespace

LONG NameComparator::GreaterOrEqual(RefObject* a, RefObject* b) {
    LPCSTR nameA = nullptr;
    LPCSTR nameB = nullptr;
    if (!nameOf(a, &nameA)) {
        return 0;
    }
    if (!nameOf(b, &nameB)) {
        return 1;
    }
    if (nameA == nullptr) {
        return 1;
    }
    if (nameB == nullptr) {
        return 0;
    }
    return lstrcmpiA(nameA, nameB) >= 0 ? 1 : 0;
}

LONG NameComparator::Equal(RefObject* a, RefObject* b) {
    LPCSTR nameA = nullptr;
    LPCSTR nameB = nullptr;
    bool namedA = nameOf(a, &nameA);
    bool namedB = nameOf(b, &nameB);
    if (!namedA || !namedB) {
        return namedA == namedB ? 1 : 0;
    }
    if (nameA == nullptr || nameB == nullptr) {
        return nameA == nameB ? 1 : 0;
    }
    return lstrcmpiA(nameA, nameB) == 0 ? 1 : 0;
}

#include "toolkit/Comparator.h"

#include <new>

ObjectInterface* Comparator::GetInterface(LONG id) {
    if (id == ComparatorInterfaceId) {
        return new (std::nothrow) ComparatorInterface(this);
    }
    return RefObject::GetInterface(id);
}

LONG Comparator::LessOrEqual(RefObject* a, RefObject* b) {
    return GreaterOrEqual(a, b) == 0 ? 1 : Equal(a, b);
}

LONG Comparator::Less(RefObject* a, RefObject* b) {
    return GreaterOrEqual(a, b) == 0 ? 1 : 0;
}

LONG Comparator::Greater(RefObject* a, RefObject* b) {
    return LessOrEqual(a, b) == 0 ? 1 : 0;
}

RefObject* Comparator::Max(RefObject* a, RefObject* b) {
    return GreaterOrEqual(a, b) ? a : b;
}

RefObject* Comparator::Min(RefObject* a, RefObject* b) {
    return LessOrEqual(a, b) ? a : b;
}

LONG Comparator::Accept(RefObject*) {
    return 1;
}

LONG ComparatorInterface::GreaterOrEqual(RefObject* a, RefObject* b) {
    return Target()->GreaterOrEqual(a, b);
}

LONG ComparatorInterface::LessOrEqual(RefObject* a, RefObject* b) {
    return Target()->LessOrEqual(a, b);
}

LONG ComparatorInterface::Less(RefObject* a, RefObject* b) {
    return Target()->Less(a, b);
}

LONG ComparatorInterface::Greater(RefObject* a, RefObject* b) {
    return Target()->Greater(a, b);
}

RefObject* ComparatorInterface::Max(RefObject* a, RefObject* b) {
    return Target()->Max(a, b);
}

RefObject* ComparatorInterface::Min(RefObject* a, RefObject* b) {
    return Target()->Min(a, b);
}

LONG ComparatorInterface::Accept(RefObject* item) {
    return Target()->Accept(item);
}

LONG ComparatorInterface::Equal(RefObject* a, RefObject* b) {
    return Target()->Equal(a, b);
}

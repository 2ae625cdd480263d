// The default comparator: orders objects by name, case-insensitively.
#pragma once

#include "toolkit/Comparator.h"

// Names are taken through each object's id-17 interface. An object without
// one (or null) is below everything; a nameless named object is above every
// named one.
class NameComparator : public Comparator {
public:
    NameComparator() = default;

    ~NameComparator() override = default;
    LONG GreaterOrEqual(RefObject* a, RefObject* b) override;
    LONG Equal(RefObject* a, RefObject* b) override;
};

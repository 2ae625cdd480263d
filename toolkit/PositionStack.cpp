#include "toolkit/PositionStack.h"

#include <new>

LONG PositionStack::Push(LONG offset) {
    auto* node = new (std::nothrow) Node{offset, top};
    if (node == nullptr) {
        return 0;
    }
    top = node;
    ++count;
    return 1;
}

LONG PositionStack::Pop() {
    if (top == nullptr) {
        count = 0;
        return 0;
    }
    Node* node = top;
    LONG offset = node->offset;
    top = node->next;
    delete node;
    --count;
    return offset;
}

void PositionStack::Reset() {
    while (top != nullptr) {
        Pop();
    }
    count = 0;
}

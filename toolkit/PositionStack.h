// The file offsets of the groups a text stream stands in.
#pragma once

#include "platform/winapi.h"

// A singly linked stack of offsets, the innermost group on top.
class PositionStack {
public:
    PositionStack() : top(nullptr), count(0) {}
    ~PositionStack() { Reset(); }
    PositionStack(const PositionStack&) = delete;
    PositionStack& operator=(const PositionStack&) = delete;

    // 1, or 0 when no node can be allocated.
    LONG Push(LONG offset);
    // The top offset, removed; 0 on an empty stack.
    LONG Pop();
    // The top offset, or 0 when empty.
    LONG Top() const { return top != nullptr ? top->offset : 0; }
    LONG GetCount() const { return count; }
    void Reset();

private:
    struct Node {
        LONG offset;
        Node* next;
    };

    Node* top;
    LONG count;
};

// Orders and filters objects for sorting and filtering collections, and its
// interface object (id 20).
#pragma once

#include "support/RefObject.h"

// Everything is derived from the two abstract operations. Arguments may be
// null; results are 0 or 1 except for Max and Min, which return one of their
// arguments.
class Comparator : public RefObject {
public:
    Comparator() = default;
    Comparator(const Comparator& other) = default;
    Comparator& operator=(const Comparator&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~Comparator() override = default;
    virtual LONG GreaterOrEqual(RefObject* a, RefObject* b) = 0;
    virtual LONG LessOrEqual(RefObject* a, RefObject* b);
    virtual LONG Less(RefObject* a, RefObject* b);
    virtual LONG Greater(RefObject* a, RefObject* b);
    virtual RefObject* Max(RefObject* a, RefObject* b);
    virtual RefObject* Min(RefObject* a, RefObject* b);
    // 1 here; a derived comparator overrides it to filter.
    virtual LONG Accept(RefObject* item);
    virtual LONG Equal(RefObject* a, RefObject* b) = 0;
};

class ComparatorInterface : public ObjectInterface {
public:
    explicit ComparatorInterface(Comparator* object) : ObjectInterface(object) {}

    virtual LONG GreaterOrEqual(RefObject* a, RefObject* b);
    virtual LONG LessOrEqual(RefObject* a, RefObject* b);
    virtual LONG Less(RefObject* a, RefObject* b);
    virtual LONG Greater(RefObject* a, RefObject* b);
    virtual RefObject* Max(RefObject* a, RefObject* b);
    virtual RefObject* Min(RefObject* a, RefObject* b);
    virtual LONG Accept(RefObject* item);
    virtual LONG Equal(RefObject* a, RefObject* b);

private:
    Comparator* Target() const { return static_cast<Comparator*>(object); }
};

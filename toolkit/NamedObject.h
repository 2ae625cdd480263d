// The named object every data object of the toolkit derives from, and its
// interface object (id 17).
#pragma once

#include "support/RefObject.h"

// A reference-counted object with an optional name. An empty name is never
// stored: the object is then nameless.
class NamedObject : public RefObject {
public:
    explicit NamedObject(LPCSTR name = nullptr);
    NamedObject(const NamedObject& other);
    NamedObject& operator=(const NamedObject&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~NamedObject() override;
    // A new object of the same class carrying a copy of this one; the caller
    // owns it. Null when it cannot be allocated.
    virtual NamedObject* Clone();

    // Stores a copy of `text`, or no name for a null or empty text. The old
    // name may be passed in: it is freed only after the copy is made.
    void SetName(LPCSTR text);
    LPCSTR GetName() const { return name; }
    // 1 when the object has a name equal to `text` case-insensitively.
    LONG NameEquals(LPCSTR text) const;
    // This object when NameEquals(text), else null.
    NamedObject* MatchName(LPCSTR text);

private:
    LPSTR name = nullptr;
};

class NamedInterface : public ObjectInterface {
public:
    explicit NamedInterface(NamedObject* object) : ObjectInterface(object) {}

    virtual void SetName(LPCSTR text);
    virtual LPCSTR GetName();
    virtual LONG NameEquals(LPCSTR text);
    virtual NamedObject* MatchName(LPCSTR text);
    // The new object, not an interface of it.
    virtual NamedObject* Clone();

protected:
    NamedObject* Named() const { return static_cast<NamedObject*>(object); }
};

// The leaf of the data tree: a named value of one of six types, and its
// interface object (id 260).
#pragma once

#include "toolkit/NamedObject.h"

// Type codes. 1 to 4 are not value types; the text stream uses them for its
// structure lines, and its value-line kinds 6 to 10 are these codes.
enum ValueType : LONG {
    TypeNone = 0,
    TypeBytes = 5,
    TypeInt = 6,
    TypeFloat = 7,
    TypeString = 8,
    TypeDouble = 9,
    TypeInt64 = 10,
};

// Getters never convert: one of the wrong type returns its default. Setters
// convert their argument to the value's own type; on the null value (type 0)
// and on bytes they change nothing and return 0. The value owns its text or
// block of bytes.
class TypedValue : public NamedObject {
public:
    TypedValue();
    explicit TypedValue(INT value);
    explicit TypedValue(float value);
    explicit TypedValue(double value);
    explicit TypedValue(LONGLONG value);
    // A copy of the text; empty text for null.
    explicit TypedValue(LPCSTR text);
    // `size` bytes copied from `data` (zeros when `data` is null); no block
    // when `size` is not above 0 or the block cannot be allocated.
    TypedValue(const void* data, LONG size);
    TypedValue(const TypedValue& other);
    TypedValue& operator=(const TypedValue&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~TypedValue() override;
    NamedObject* Clone() override;

    LONG GetType() const { return type; }
    LONG IsNull() const { return type == TypeNone ? 1 : 0; }
    LONG GetInt() const;
    float GetFloat() const;
    double GetDouble() const;
    // Never null: a static empty text when there is no string.
    LPCSTR GetString() const;
    LONGLONG GetInt64() const;
    BYTE* GetBytes() const;
    LONG GetBytesSize() const;

    // Only on bytes: a new block of `size` bytes keeping the leading ones
    // (the rest are zero); null and no change when it cannot be allocated.
    // A size of 0 leaves the value without a block, and the result is null.
    BYTE* ResizeBytes(LONG size);
    LONGLONG SetInt64(LONGLONG value);
    // Reads the text as the value's own type; a null text acts as SetInt(0)
    // and returns null. Returns the text (null on types 0 and 5).
    LPCSTR SetFromText(LPCSTR text);
    double SetDouble(double value);
    float SetFloat(float value);
    LONG SetInt(LONG value);
    // Changes the type, releasing a text or block; a value that becomes a
    // string holds empty text, one that becomes bytes has no block, and one
    // that leaves text or bytes for a number holds 0. Returns `type`.
    LONG SetType(LONG newType);
    // Only on strings: stores a copy (empty text for null) and returns it;
    // null, keeping the old text, when the copy cannot be allocated.
    LPCSTR SetString(LPCSTR text);

private:
    // A number set on the value, in each form a scalar type may take.
    struct Converted {
        LONG asInt;
        float asFloat;
        double asDouble;
        LONGLONG asInt64;
    };
    // Stores the form of the value's own type; `formatText` writes the text
    // form into a buffer of NumberText::BufferSize bytes when it is needed.
    template <typename FormatText> void Store(const Converted& number, FormatText formatText);
    // Whether the setters of the scalar types act on this value.
    bool HoldsScalar() const;
    // Stores a new text in place of the old one (which may be `newText`
    // itself); keeps the old one when the copy fails.
    LPCSTR ReplaceText(LPCSTR newText);
    void ReleaseStorage();

    LONG type;
    LONG size;
    union {
        LONG intValue;
        float floatValue;
        double doubleValue;
        LONGLONG int64Value;
        LPSTR text;
        BYTE* bytes;
    } value;
};

class ValueInterface : public NamedInterface {
public:
    explicit ValueInterface(TypedValue* object) : NamedInterface(object) {}

    virtual LONG IsNull();
    virtual LONG GetInt();
    virtual float GetFloat();
    virtual double GetDouble();
    virtual LPCSTR GetString();
    virtual LONGLONG GetInt64();
    virtual BYTE* GetBytes();
    virtual LONG GetBytesSize();
    virtual BYTE* ResizeBytes(LONG size);
    virtual LONGLONG SetInt64(LONGLONG value);
    virtual LPCSTR SetFromText(LPCSTR text);
    virtual double SetDouble(double value);
    virtual float SetFloat(float value);
    virtual LONG SetInt(LONG value);
    virtual LONG SetType(LONG type);
    virtual LPCSTR SetString(LPCSTR text);

private:
    TypedValue* Target() const { return static_cast<TypedValue*>(object); }
};

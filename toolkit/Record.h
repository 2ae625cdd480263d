// A record of typed values, and its interface object (id 259).
#pragma once

#include "toolkit/TreeNode.h"
#include "toolkit/TypedValue.h"

class TreeStream;

// The items of a record are typed values. Typed access reads or sets the
// first value of the type; the adds always add a new value, so several may
// share a name and a type. Lookups answer NullValue, never null.
class Record : public TreeNode {
public:
    explicit Record(LPCSTR name = nullptr) : TreeNode(name, RecordBit) {}
    explicit Record(NullNodeTag tag) : TreeNode(tag, RecordBit) {}
    Record(const Record& other) = default;
    Record& operator=(const Record&) = delete;

    ObjectInterface* GetInterface(LONG id) override;
    ~Record() override = default;
    NamedObject* Clone() override;

    TypedValue* ValueAt(LONG index) const;
    TypedValue* ValueByName(LPCSTR name) const;
    // The slot of the first value of `type`, or 0.
    LONG IndexOfType(LONG type) const;

    // The first value of the type's; without one 0, empty text or null.
    LONG GetInt() const;
    float GetFloat() const;
    double GetDouble() const;
    LPCSTR GetString() const;
    LONGLONG GetInt64() const;
    BYTE* GetBytes() const;
    LONG GetBytesSize() const;
    BYTE* ResizeBytes(LONG size);

    // A new value named `valueName` (nameless for null or empty text).
    Record* AddBytes(LPCSTR valueName, const void* data, LONG size);
    Record* AddInt64(LPCSTR valueName, LONGLONG value);
    Record* AddString(LPCSTR valueName, LPCSTR text);
    Record* AddDouble(LPCSTR valueName, double value);
    Record* AddFloat(LPCSTR valueName, float value);
    Record* AddInt(LPCSTR valueName, LONG value);

    // Sets the first value of the type (a string through its SetFromText),
    // or adds a nameless one.
    Record* SetInt64(LONGLONG value);
    Record* SetString(LPCSTR text);
    Record* SetDouble(double value);
    Record* SetFloat(float value);
    Record* SetInt(LONG value);
    // Replaces the first bytes value with a nameless copy of `size` bytes
    // from `data`, which may point into the value being replaced.
    Record* SetBytes(const void* data, LONG size);

    // Writes the values as lines carrying the record's name; the number of
    // slots plus one, or 0 for a null stream.
    LONG WriteTo(TreeStream* stream);

private:
    TypedValue* FirstOfType(LONG type) const;
    // Names the new value and adds it; deletes it when it cannot be added.
    Record* AddValue(TypedValue* value, LPCSTR valueName);
    void WriteValue(TreeStream* stream, const TypedValue& value);
};

class RecordInterface : public NodeInterface {
public:
    explicit RecordInterface(Record* object) : NodeInterface(object) {}

    virtual TypedValue* ValueAt(LONG index);
    virtual TypedValue* ValueByName(LPCSTR name);
    virtual LONG IndexOfType(LONG type);
    virtual LONG GetInt();
    virtual float GetFloat();
    virtual double GetDouble();
    virtual LPCSTR GetString();
    virtual LONGLONG GetInt64();
    virtual BYTE* GetBytes();
    virtual LONG GetBytesSize();
    virtual BYTE* ResizeBytes(LONG size);
    virtual Record* AddBytes(LPCSTR valueName, const void* data, LONG size);
    virtual Record* AddInt64(LPCSTR valueName, LONGLONG value);
    virtual Record* AddString(LPCSTR valueName, LPCSTR text);
    virtual Record* AddDouble(LPCSTR valueName, double value);
    virtual Record* AddFloat(LPCSTR valueName, float value);
    virtual Record* AddInt(LPCSTR valueName, LONG value);
    // A slot of its own, typed for the items a record holds; the collection's
    // Add stays reachable beside it.
    using CollectionInterface::Add;
    virtual LONG Add(TypedValue* item);
    virtual Record* SetInt64(LONGLONG value);
    virtual Record* SetString(LPCSTR text);
    virtual Record* SetDouble(double value);
    virtual Record* SetFloat(float value);
    virtual Record* SetInt(LONG value);
    virtual Record* SetBytes(const void* data, LONG size);
    virtual LONG WriteTo(TreeStream* stream);

private:
    Record* Target() const { return static_cast<Record*>(object); }
};

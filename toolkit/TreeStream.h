// The abstract stream a folder writes itself to and reads itself from: it
// fixes the order and the default behaviour of every stream operation.
#pragma once

#include "toolkit/NamedObject.h"

// How deep groups may nest, for every stream and every reader: a tree
// within it saves and loads whole, a deeper one is neither saved nor read.
const LONG MaxTreeDepth = 1024;

// What ParseLine makes of a line. 6 to 10 are the value types' codes.
enum LineKind : LONG {
    LineUnknown = 0, // empty, a comment, malformed or refused
    LineGroupBegin = 1,
    LineGroupEnd = 2,
    LineArrayBegin = 3,
    LineArrayEnd = 4,
    LineInt = 6,
    LineFloat = 7,
    LineString = 8,
    LineDouble = 9,
    LineInt64 = 10,
    LineData = 11, // any other line; the bytes of an array are such lines
};

// Texts are zero-terminated; an `index` is the bracketed part of a name and
// may be null. Results are nonzero for success. The defaults do nothing and
// answer 0 (the typed reads by name also clear their output).
class TreeStream : public NamedObject {
public:
    TreeStream() = default;
    explicit TreeStream(LPCSTR name) : NamedObject(name) {}
    TreeStream(const TreeStream&) = delete;
    TreeStream& operator=(const TreeStream&) = delete;
    ~TreeStream() override = default;

    virtual LONG IsOpen();
    virtual LONG GetCapabilities();
    virtual LONG BeginGroup(LPCSTR name);
    virtual LONG EndGroup();
    virtual LONG BeginArray(LPCSTR name, LPCSTR index);
    virtual LONG EndArray();
    virtual LONG WriteBytes(const BYTE* data, LONG count);
    virtual LONG WriteInt64(LPCSTR name, LONGLONG value, LPCSTR index) = 0;
    virtual LONG WriteDouble(LPCSTR name, double value, LPCSTR index) = 0;
    virtual LONG WriteString(LPCSTR name, LPCSTR text, LPCSTR index) = 0;
    virtual LONG WriteFloat(LPCSTR name, float value, LPCSTR index) = 0;
    virtual LONG WriteInt(LPCSTR name, LONG value, LPCSTR index) = 0;
    virtual void BeginRecord(LPCSTR name);
    virtual void EndRecord(LPCSTR name);
    virtual LONG ParseLine() = 0;
    // The name of the last parsed line. With `indexOut`, the name is cut
    // before its first "[" and *indexOut gets the text up to the "]" (null
    // when there is none or it is empty).
    virtual LPSTR GetName(LPSTR* indexOut) = 0;
    virtual LONG GetInt() = 0;
    virtual float GetFloat() = 0;
    virtual LPCSTR GetString() = 0;
    virtual double GetDouble() = 0;
    virtual LONGLONG GetInt64() = 0;
    virtual LPCSTR GetLine() = 0;
    virtual LONG CountArrayLines();
    virtual LONG ReadArrayBytes(BYTE* buffer, LONG size);
    virtual LONG ReadBytes(BYTE* buffer, LONG size);
    virtual LONG NextLine() = 0;
    virtual LONG Rewind() = 0;
    virtual LONG ReadBytesByName(LPCSTR name, BYTE* buffer, LONG size);
    virtual LONG ReadInt64ByName(LPCSTR name, LONGLONG* out);
    virtual LONG ReadDoubleByName(LPCSTR name, double* out);
    // *out gets a new[] copy of the text, which the caller frees.
    virtual LONG ReadStringByName(LPCSTR name, LPSTR* out);
    virtual LONG ReadFloatByName(LPCSTR name, float* out);
    virtual LONG ReadIntByName(LPCSTR name, LONG* out);
    virtual LONG FindGroup(LPCSTR name);
    virtual LONG EnterNextGroup();
    virtual LONG LeaveGroup();
    virtual LONG RestartGroup();
    virtual LONG FindValue(LPCSTR name, LONG kind);
    virtual LONG FindArray(LPCSTR name);
    virtual LONG FindPath(LPCSTR path);
    virtual void Reserved();
};

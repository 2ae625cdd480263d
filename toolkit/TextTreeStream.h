// The toolkit's line-oriented text format: groups, byte arrays and typed
// value lines, written with indentation and read back by a pull parser that
// can also search.
#pragma once

#include "support/StringStack.h"
#include "toolkit/PositionStack.h"
#include "toolkit/TreeStream.h"

#include <cstdio>

enum StreamMode : LONG {
    StreamRead = 0,
    StreamWrite = 1,
};

// One file, opened at construction for reading or for writing. Lines are
// written as the platform ends them (CR LF on Windows); the reader takes
// either ending.
//
// A file written by path is written whole or not at all: the lines go to a
// temporary file beside it (the path and ".tmp"), which Flush, or else the
// destructor, flushes to the disk and moves over the file, and only when
// every write succeeded; otherwise the temporary file is deleted and the
// file keeps what it held (lines refused for what they hold do not count:
// the file takes the others, and Flush reports them). A writer killed before that leaves the
// temporary file, which the next write of the same path replaces. Two streams must not write one
// path at once.
//
// Lines:   { name:   } name;   [ name:   [ name[index]:   ] name;
//          hexadecimal bytes inside an array, one a line
//          (int)name=5  (float)name[index]=1.500000  (string)name=text
//          (double)name=1.5  (int64)name=-1
//
// Limits: a line is read in pieces of at most 4095 characters, each taken
// as a line of its own; a name, type name or value text longer than 1023
// characters makes its line unrecognised, and so does a group begin line
// deeper than MaxDepth groups. The writers refuse what would not read back
// as written (too deep, too long, a line break, a name holding what ends it
// in its line, such as a colon in a group's name), and Flush then reports a
// failed write. A group or array without a name
// is written with an empty one ("{ :", "} ;"); the reader accepts such
// lines, and an end line with an empty name closes them.
class TextTreeStream : public TreeStream {
public:
    // `mode`: StreamRead or StreamWrite. The name is the path.
    TextTreeStream(LPCSTR path, LONG mode);
    // Over a file the caller opened and will close (standard output, say);
    // `name` is only the stream's name.
    TextTreeStream(FILE* openFile, LONG mode, LPCSTR name);
    ~TextTreeStream() override;

    LONG IsOpen() override;
    LONG GetCapabilities() override;
    LONG BeginGroup(LPCSTR name) override;
    LONG EndGroup() override;
    LONG BeginArray(LPCSTR name, LPCSTR index) override;
    LONG EndArray() override;
    LONG WriteBytes(const BYTE* data, LONG count) override;
    LONG WriteInt64(LPCSTR name, LONGLONG value, LPCSTR index) override;
    LONG WriteDouble(LPCSTR name, double value, LPCSTR index) override;
    LONG WriteString(LPCSTR name, LPCSTR text, LPCSTR index) override;
    LONG WriteFloat(LPCSTR name, float value, LPCSTR index) override;
    LONG WriteInt(LPCSTR name, LONG value, LPCSTR index) override;
    LONG ParseLine() override;
    LPSTR GetName(LPSTR* indexOut) override;
    LONG GetInt() override { return intValue; }
    float GetFloat() override { return floatValue; }
    LPCSTR GetString() override { return valueField; }
    double GetDouble() override { return doubleValue; }
    LONGLONG GetInt64() override { return int64Value; }
    LPCSTR GetLine() override;
    LONG CountArrayLines() override;
    LONG ReadArrayBytes(BYTE* buffer, LONG size) override;
    LONG ReadBytes(BYTE* buffer, LONG size) override;
    LONG NextLine() override;
    LONG Rewind() override;
    LONG ReadBytesByName(LPCSTR name, BYTE* buffer, LONG size) override;
    LONG ReadInt64ByName(LPCSTR name, LONGLONG* out) override;
    LONG ReadDoubleByName(LPCSTR name, double* out) override;
    LONG ReadStringByName(LPCSTR name, LPSTR* out) override;
    LONG ReadFloatByName(LPCSTR name, float* out) override;
    LONG ReadIntByName(LPCSTR name, LONG* out) override;
    LONG FindGroup(LPCSTR name) override;
    LONG EnterNextGroup() override;
    LONG LeaveGroup() override;
    LONG RestartGroup() override;
    LONG FindValue(LPCSTR name, LONG kind) override;
    LONG FindArray(LPCSTR name) override;
    LONG FindPath(LPCSTR path) override;

    // The number of groups the stream stands in.
    LONG GetDepth() const { return positions.GetCount(); }
    // Pushes what was written to the file; 1 when every write so far
    // succeeded, 0 once one has failed (a full disk, say). A file written by
    // path is then complete: it is moved into place, or left as it was when
    // a write failed, and the stream writes no more.
    LONG Flush();

    // The limits of the format.
    static constexpr int LineSize = 4096;  // a line and its NUL
    static constexpr int FieldSize = 1024; // a name, type name or value text and its NUL
    // The group-name stack grows by exactly what each entry needs and is
    // scanned from its start, so its cost rises with the square of the depth:
    // without a bound, a few megabytes of begin lines would keep a reader
    // busy for minutes.
    static constexpr LONG MaxDepth = MaxTreeDepth;
    // Whether a group begin line was refused for its depth since the stream
    // was opened: then a reader has not had everything.
    bool RefusedTooDeep() const { return refusedTooDeep; }

private:
    // Where a search started: its depth, and the innermost group's name and
    // body offset, to go back to when the search runs off the group's end.
    struct GroupMark {
        LONG depth;
        LPSTR name;
        LONG offset;
    };

    void OpenForWriting(LPCSTR path);
    bool CanWrite() const;
    LONG Refuse();
    LONG WriteLine(const char* format, ...);
    // Puts `length` bytes out: to the open file, or through the pending
    // bytes to the temporary file.
    bool Emit(const char* text, size_t length);
    bool WritePending();
    // Moves the temporary file over the file when all went well, or deletes
    // it; 1 when the file now holds what was written.
    LONG FinishFile();
    bool MoveIntoPlace() const;
    LONG WriteValueLine(LPCSTR type, LPCSTR name, LPCSTR index, LPCSTR valueText);
    template <typename Number>
    LONG WriteNumberLine(LPCSTR type, LPCSTR name, Number value, void (*format)(Number, LPSTR),
                         LPCSTR index);
    LONG ParseValueLine(LPCSTR text);
    LONG ParseArrayBegin(LPCSTR text);
    LONG ParseArrayEnd(LPCSTR text);
    LONG ParseGroupBegin(LPCSTR text);
    LONG ParseGroupEnd(LPCSTR text);
    LONG SkipTooDeep(LPCSTR text);
    // Whether `line` is the end line of the open array; touches no state.
    bool IsOpenArrayEnd() const;
    bool PushGroup(LPCSTR name, LONG offset);
    void ForgetArray();
    LONG Tell() const;
    void SeekTo(LONG offset);
    bool MarkGroup(GroupMark* mark);
    void ReturnToGroup(GroupMark* mark);
    // Reads and parses lines of the current group until `matches(kind)`
    // holds (1). Off the group's end the stream goes back to the start of
    // its body, off the file's end it is rewound (0).
    template <typename Match> LONG SearchGroup(Match matches);

    FILE* file;
    // A file written by path: the temporary file, its path and the file's,
    // and the bytes not yet written to it.
    HANDLE output = INVALID_HANDLE_VALUE;
    LPSTR outputPath = nullptr;
    LPSTR temporaryPath = nullptr;
    char* pending = nullptr;
    size_t pendingSize = 0;
    DWORD modeFlags;
    StringStack groupNames;
    LPSTR openArray;
    LPSTR line;
    PositionStack positions;
    LONG intValue;
    float floatValue;
    double doubleValue;
    LONGLONG int64Value;
    char nameField[FieldSize];
    char typeField[FieldSize];
    char valueField[FieldSize];
    // Whether the destructor closes the file, whether a write failed, and
    // whether a line was refused.
    bool ownsFile;
    bool writeFailed;
    bool refusedLine = false;
    bool refusedTooDeep = false;
    // Groups open inside one refused for its depth.
    LONG tooDeepOpen = 0;
};

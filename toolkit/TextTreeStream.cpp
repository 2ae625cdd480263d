#include "toolkit/TextTreeStream.h"

#include "support/TextString.h"
#include "toolkit/NumberText.h"

#include <cstdarg>
#include <cstring>
#include <new>

namespace {

const DWORD WriteFlag = 1;
const DWORD OpenFlag = 2;
const char Indent[] = "    ";
const size_t PendingCapacity = size_t(64) * 1024;
// Where a line written by path ends (a stream over an open file leaves that
// to the file's own mode).
#ifdef _WIN32
const char LineEnd[] = "\r\n";
#else
const char LineEnd[] = "\n";
#endif
// The longest line without its indentation: a type, a name with its index
// and a value, each shorter than a field, and the punctuation between.
const size_t LongestLineBody = size_t(3) * TextTreeStream::FieldSize;

// The group-name stack holds only non-empty texts, so a group without a
// name stands there as this entry. No begin line can name a group so: a
// name ends at its first colon.
const char NamelessGroup[] = ":";

bool isLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

LPCSTR skipBlanks(LPCSTR text) {
    while (IsBlank(*text)) {
        ++text;
    }
    return text;
}

// The first `wanted` before the line's end, or null.
LPCSTR findInLine(LPCSTR text, char wanted) {
    for (; !isLineEnd(*text); ++text) {
        if (*text == wanted) {
            return text;
        }
    }
    return nullptr;
}

// Where the part of a line that starts at `text` ends: at `stop` or at the
// line's end.
LPCSTR endOfField(LPCSTR text, char stop) {
    while (!isLineEnd(*text) && *text != stop) {
        ++text;
    }
    return text;
}

// Copies [begin, end) into a field of FieldSize characters; false, with
// nothing copied, when it does not fit.
bool copyField(LPCSTR begin, LPCSTR end, LPSTR field) {
    size_t length = size_t(end - begin);
    if (length >= size_t(TextTreeStream::FieldSize)) {
        return false;
    }
    std::memcpy(field, begin, length);
    field[length] = '\0';
    return true;
}

// The name of an end line, after its bracket: at least one blank, then the
// name up to ";" or the line's end.
bool readEndName(LPCSTR text, LPSTR field) {
    if (!IsBlank(*text)) {
        return false;
    }
    text = skipBlanks(text);
    return copyField(text, endOfField(text, ';'), field);
}

// Whether an end line can close a group or array of this name: its name
// ends at the first ';'. The writer refuses such names, and the reader
// begins no group or array that could never end.
bool closable(LPCSTR name) {
    return std::strchr(name, ';') == nullptr;
}

// An array "rec[val]" is closed by "] rec[val];" and by "] rec;".
bool closesArray(LPCSTR endName, LPCSTR openName) {
    if (lstrcmpiA(endName, openName) == 0) {
        return true;
    }
    LPCSTR bracket = std::strchr(openName, '[');
    char cut[TextTreeStream::FieldSize];
    return bracket != nullptr && copyField(openName, bracket, cut) && lstrcmpiA(endName, cut) == 0;
}

bool closesGroup(LPCSTR endName, LPCSTR entry) {
    if (entry == nullptr) {
        return false;
    }
    if (std::strcmp(entry, NamelessGroup) == 0) {
        return endName[0] == '\0';
    }
    return lstrcmpiA(endName, entry) == 0;
}

// Whether `text` reads back as written where it stands in a line: no line
// break, none of the `stops` that would end its part of the line early, no
// leading blank where the reader skips blanks, and room in a field. Adds
// its length to `*length`.
bool fits(LPCSTR text, LPCSTR stops, bool leadingBlankKept, size_t* length) {
    if (text == nullptr) {
        return true;
    }
    if (!leadingBlankKept && IsBlank(text[0])) {
        return false;
    }
    size_t size = std::strlen(text);
    if (text[std::strcspn(text, stops)] != '\0' || std::strpbrk(text, "\r\n") != nullptr) {
        return false;
    }
    *length += size;
    return *length < size_t(TextTreeStream::FieldSize);
}

// A name and its bracketed index, as a group, array or value line holds them.
bool nameFits(LPCSTR name, LPCSTR nameStops, LPCSTR index, LPCSTR indexStops,
              bool leadingBlankKept) {
    size_t length = index != nullptr ? 2 : 0; // the brackets
    return fits(name, nameStops, leadingBlankKept, &length) &&
           fits(index, indexStops, true, &length);
}

struct TypeName {
    LPCSTR name;
    LONG kind;
};

const TypeName TypeNames[] = {
    {"int", LineInt},       {"float", LineFloat}, {"string", LineString},
    {"double", LineDouble}, {"int64", LineInt64},
};

LONG kindOfType(LPCSTR type) {
    for (const TypeName& entry : TypeNames) {
        if (lstrcmpiA(type, entry.name) == 0) {
            return entry.kind;
        }
    }
    return LineUnknown;
}

} // namespace

// --- life ----------------------------------------------------------------------------------------

TextTreeStream::TextTreeStream(LPCSTR path, LONG mode)
    : TreeStream(path), file(nullptr), modeFlags((mode & 1) != 0 ? WriteFlag : 0),
      openArray(nullptr), line(new (std::nothrow) char[LineSize]), intValue(0), floatValue(0),
      doubleValue(0), int64Value(0), ownsFile(true), writeFailed(false) {
    nameField[0] = typeField[0] = valueField[0] = '\0';
    if (line != nullptr) {
        line[0] = '\0';
    }
    // Read in binary mode, as the parser takes CR LF itself and the searches
    // seek back to offsets taken with ftell, which only binary mode makes
    // exact everywhere (msvcrt miscounts a text-mode file with bare line
    // feeds).
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    if ((modeFlags & WriteFlag) != 0) {
        OpenForWriting(path);
    } else {
        file = std::fopen(path, "rb");
    }
    if (file != nullptr || output != INVALID_HANDLE_VALUE) {
        modeFlags |= OpenFlag;
    }
}

void TextTreeStream::OpenForWriting(LPCSTR path) {
    outputPath = CopyText(path);
    size_t length = std::strlen(path);
    temporaryPath = new (std::nothrow) char[length + sizeof ".tmp"];
    pending = new (std::nothrow) char[PendingCapacity];
    if (outputPath == nullptr || temporaryPath == nullptr || pending == nullptr) {
        return;
    }
    std::memcpy(temporaryPath, path, length);
    std::memcpy(temporaryPath + length, ".tmp", sizeof ".tmp");
    output = CreateFileA(temporaryPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

TextTreeStream::TextTreeStream(FILE* openFile, LONG mode, LPCSTR name)
    : TextTreeStream(nullptr, mode) {
    SetName(name);
    file = openFile;
    ownsFile = false;
    if (file != nullptr) {
        modeFlags |= OpenFlag;
    }
}

TextTreeStream::~TextTreeStream() {
    FinishFile();
    ForgetArray();
    delete[] line;
    delete[] outputPath;
    delete[] temporaryPath;
    delete[] pending;
    if (file != nullptr && ownsFile) {
        std::fclose(file);
    }
}

LONG TextTreeStream::IsOpen() {
    return (modeFlags & OpenFlag) != 0 ? 1 : 0;
}

LONG TextTreeStream::GetCapabilities() {
    return 15;
}

LONG TextTreeStream::Flush() {
    if (outputPath != nullptr) {
        return FinishFile();
    }
    if (file == nullptr) {
        return 0;
    }
    if (CanWrite() && (std::fflush(file) != 0 || std::ferror(file) != 0)) {
        writeFailed = true;
    }
    return writeFailed || refusedLine ? 0 : 1;
}

// --- writing -------------------------------------------------------------------------------------

LONG TextTreeStream::FinishFile() {
    if (output == INVALID_HANDLE_VALUE) {
        return outputPath != nullptr && IsOpen() && !writeFailed && !refusedLine ? 1 : 0;
    }
    // A file whose writes failed is not touched; one without the lines the
    // format could not carry still takes the others, but the caller is told.
    bool written = !writeFailed && WritePending() && FlushFileBuffers(output);
    written = CloseHandle(output) && written;
    output = INVALID_HANDLE_VALUE;
    written = written && MoveIntoPlace();
    if (!written) {
        DWORD error = GetLastError(); // the failure, not the clean-up, is what counts
        DeleteFileA(temporaryPath);
        SetLastError(error);
        writeFailed = true;
    }
    return written && !refusedLine ? 1 : 0;
}

// Replacing a file keeps its attributes and access rights; a new one is
// moved into place.
bool TextTreeStream::MoveIntoPlace() const {
    if (ReplaceFileA(outputPath, temporaryPath, nullptr, 0, nullptr, nullptr)) {
        return true;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND &&
           MoveFileExA(temporaryPath, outputPath, MOVEFILE_WRITE_THROUGH);
}

bool TextTreeStream::CanWrite() const {
    return (file != nullptr || output != INVALID_HANDLE_VALUE) && (modeFlags & WriteFlag) != 0;
}

bool TextTreeStream::WritePending() {
    DWORD written = 0;
    bool ok = pendingSize == 0 || WriteFile(output, pending, DWORD(pendingSize), &written, nullptr);
    pendingSize = 0;
    return ok;
}

bool TextTreeStream::Emit(const char* text, size_t length) {
    if (file != nullptr) {
        return std::fwrite(text, 1, length, file) == length;
    }
    // After a failed write the temporary file is given up: nothing more
    // goes to it.
    if (writeFailed || (pendingSize + length > PendingCapacity && !WritePending())) {
        return false;
    }
    std::memcpy(pending + pendingSize, text, length);
    pendingSize += length;
    return true;
}

// One line, indented by the depth.
LONG TextTreeStream::WriteLine(const char* format, ...) {
    if (!CanWrite()) {
        return 0;
    }
    char body[LongestLineBody];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(body, sizeof body, format, arguments);
    va_end(arguments);
    if (length <= 0 || size_t(length) >= sizeof body) {
        return Refuse();
    }
    bool written = true;
    for (LONG i = 0; i < GetDepth(); ++i) {
        written = Emit(Indent, sizeof Indent - 1) && written;
    }
    // Every format ends its line with a line feed, the only one it holds.
    if (file == nullptr && body[length - 1] == '\n') {
        written = Emit(body, size_t(length) - 1) && Emit(LineEnd, sizeof LineEnd - 1) && written;
    } else {
        written = Emit(body, size_t(length)) && written;
    }
    if (!written) {
        writeFailed = true;
    }
    return written ? 1 : 0;
}

// A line the format cannot carry is not written, and the stream remembers
// it, so that a Save reports it.
LONG TextTreeStream::Refuse() {
    refusedLine = true;
    return 0;
}

LONG TextTreeStream::BeginGroup(LPCSTR name) {
    if (name == nullptr) {
        name = "";
    }
    if (!CanWrite()) {
        return 0;
    }
    if (GetDepth() >= MaxDepth || !nameFits(name, ":;", nullptr, "", false)) {
        return Refuse();
    }
    if (!WriteLine("{ %s:\n", name)) {
        return 0;
    }
    if (!PushGroup(name, Tell())) {
        writeFailed = true; // the begin line is out, its end line never will be
        return 0;
    }
    return 1;
}

LONG TextTreeStream::EndGroup() {
    if (!CanWrite() || GetDepth() == 0) {
        return 0;
    }
    LPCSTR entry = groupNames.GetItem(groupNames.GetCount() - 1);
    LPCSTR name = (entry == nullptr || std::strcmp(entry, NamelessGroup) == 0) ? "" : entry;
    positions.Pop(); // the end line stands at the depth outside the group
    LONG written = WriteLine("} %s;\n", name);
    groupNames.Pop(nullptr);
    return written;
}

LONG TextTreeStream::BeginArray(LPCSTR name, LPCSTR index) {
    if (!CanWrite() || openArray != nullptr) {
        return 0;
    }
    if (name == nullptr) {
        name = "";
    }
    if (!nameFits(name, ":;[", index, "]:", false)) {
        return Refuse();
    }
    openArray = CopyText(name);
    if (openArray == nullptr) {
        return 0;
    }
    return index != nullptr ? WriteLine("[ %s[%s]:\n", name, index) : WriteLine("[ %s:\n", name);
}

LONG TextTreeStream::EndArray() {
    if (!CanWrite() || openArray == nullptr) {
        return 0;
    }
    LONG written = WriteLine("] %s;\n", openArray);
    ForgetArray();
    return written;
}

LONG TextTreeStream::WriteBytes(const BYTE* data, LONG count) {
    if (!CanWrite() || openArray == nullptr || data == nullptr) {
        return 0;
    }
    LONG written = 1;
    for (LONG i = 0; i < count; ++i) {
        written &= WriteLine("%X\n", static_cast<unsigned>(data[i]));
    }
    return written;
}

LONG TextTreeStream::WriteValueLine(LPCSTR type, LPCSTR name, LPCSTR index, LPCSTR valueText) {
    if (name == nullptr) {
        name = "";
    }
    size_t valueLength = 0;
    if (!CanWrite()) {
        return 0;
    }
    if (!nameFits(name, "=[", index, "]=", true) || !fits(valueText, "", true, &valueLength)) {
        return Refuse();
    }
    return index != nullptr ? WriteLine("(%s)%s[%s]=%s\n", type, name, index, valueText)
                            : WriteLine("(%s)%s=%s\n", type, name, valueText);
}

// A value line of a number, written by `format` as the format has it.
template <typename Number>
LONG TextTreeStream::WriteNumberLine(LPCSTR type, LPCSTR name, Number value,
                                     void (*format)(Number, LPSTR), LPCSTR index) {
    char text[NumberText::BufferSize];
    format(value, text);
    return WriteValueLine(type, name, index, text);
}

LONG TextTreeStream::WriteInt64(LPCSTR name, LONGLONG value, LPCSTR index) {
    return WriteNumberLine("int64", name, value, NumberText::FormatInt64, index);
}

LONG TextTreeStream::WriteDouble(LPCSTR name, double value, LPCSTR index) {
    return WriteNumberLine("double", name, value, NumberText::FormatShortUpper, index);
}

LONG TextTreeStream::WriteString(LPCSTR name, LPCSTR text, LPCSTR index) {
    return WriteValueLine("string", name, index, text != nullptr ? text : "");
}

LONG TextTreeStream::WriteFloat(LPCSTR name, float value, LPCSTR index) {
    return WriteNumberLine("float", name, value, NumberText::FormatFixed, index);
}

LONG TextTreeStream::WriteInt(LPCSTR name, LONG value, LPCSTR index) {
    return WriteNumberLine("int", name, value, NumberText::FormatInt, index);
}

// --- reading lines -------------------------------------------------------------------------------

LONG TextTreeStream::NextLine() {
    if (file == nullptr || line == nullptr) {
        return 0;
    }
    if (std::fgets(line, LineSize, file) == nullptr) {
        line[0] = '\0';
        return 0;
    }
    return 1;
}

LPCSTR TextTreeStream::GetLine() {
    return line != nullptr ? line : "";
}

LONG TextTreeStream::ParseLine() {
    if (line == nullptr || isLineEnd(line[0])) {
        return LineUnknown;
    }
    LPCSTR text = skipBlanks(line);
    if (tooDeepOpen > 0) {
        return SkipTooDeep(text);
    }
    switch (text[0]) {
    case '(':
        return ParseValueLine(text + 1);
    case ';':
        return LineUnknown; // a comment
    case '[':
        return ParseArrayBegin(text + 1);
    case ']':
        return ParseArrayEnd(text + 1);
    case '{':
        return ParseGroupBegin(text + 1);
    case '}':
        return ParseGroupEnd(text + 1);
    default:
        return LineData;
    }
}

// "(" type ")" name "=" value: `text` follows the parenthesis.
LONG TextTreeStream::ParseValueLine(LPCSTR text) {
    LPCSTR close = findInLine(text, ')');
    if (close == nullptr || close == text || !copyField(text, close, typeField)) {
        return LineUnknown;
    }
    LPCSTR equals = findInLine(close + 1, '=');
    if (equals == nullptr || !copyField(close + 1, equals, nameField)) {
        return LineUnknown;
    }
    LPCSTR value = equals + 1;
    if (!copyField(value, endOfField(value, '\0'), valueField)) {
        return LineUnknown;
    }
    LONG kind = kindOfType(typeField);
    bool read = false;
    switch (kind) {
    case LineInt:
        read = NumberText::ReadInt(valueField, &intValue) != 0;
        break;
    case LineFloat:
        read = NumberText::ReadFloat(valueField, &floatValue) != 0;
        break;
    case LineString:
        read = true;
        break;
    case LineDouble:
        read = NumberText::ReadDouble(valueField, &doubleValue) != 0;
        break;
    case LineInt64:
        read = NumberText::ReadInt64(valueField, &int64Value) != 0;
        break;
    default:
        break;
    }
    return read ? kind : LineUnknown;
}

LONG TextTreeStream::ParseArrayBegin(LPCSTR text) {
    if (openArray != nullptr || !IsBlankOrLineBreak(text[0])) {
        return LineUnknown;
    }
    text = skipBlanks(text);
    if (!copyField(text, endOfField(text, ':'), nameField) || !closable(nameField)) {
        return LineUnknown;
    }
    openArray = CopyText(nameField);
    return openArray != nullptr ? LineArrayBegin : LineUnknown;
}

LONG TextTreeStream::ParseArrayEnd(LPCSTR text) {
    if (openArray == nullptr || !readEndName(text, nameField) ||
        !closesArray(nameField, openArray)) {
        return LineUnknown;
    }
    ForgetArray();
    return LineArrayEnd;
}

LONG TextTreeStream::ParseGroupBegin(LPCSTR text) {
    if (openArray != nullptr || !IsBlankOrLineBreak(text[0])) {
        return LineUnknown;
    }
    if (GetDepth() >= MaxDepth) {
        refusedTooDeep = true;
        tooDeepOpen = 1;
        return LineUnknown;
    }
    text = skipBlanks(text);
    if (!copyField(text, endOfField(text, ':'), nameField) || !closable(nameField) ||
        !PushGroup(nameField, Tell())) {
        return LineUnknown;
    }
    return LineGroupBegin;
}

LONG TextTreeStream::ParseGroupEnd(LPCSTR text) {
    if (openArray != nullptr || GetDepth() == 0 || !readEndName(text, nameField) ||
        !closesGroup(nameField, groupNames.GetItem(groupNames.GetCount() - 1))) {
        return LineUnknown;
    }
    groupNames.Pop(nullptr);
    positions.Pop();
    return LineGroupEnd;
}

// Inside a group refused for its depth, every line up to its end line is
// left unread, nested groups with it, rather than read into the group that
// encloses it.
LONG TextTreeStream::SkipTooDeep(LPCSTR text) {
    if (text[0] == '{') {
        ++tooDeepOpen;
    } else if (text[0] == '}') {
        --tooDeepOpen;
    }
    return LineUnknown;
}

bool TextTreeStream::IsOpenArrayEnd() const {
    if (line == nullptr || openArray == nullptr) {
        return false;
    }
    LPCSTR text = skipBlanks(line);
    char name[FieldSize];
    return text[0] == ']' && readEndName(text + 1, name) && closesArray(name, openArray);
}

LPSTR TextTreeStream::GetName(LPSTR* indexOut) {
    if (indexOut == nullptr) {
        return nameField;
    }
    *indexOut = nullptr;
    LPSTR open = std::strchr(nameField, '[');
    if (open != nullptr) {
        *open = '\0';
        LPSTR index = open + 1;
        LPSTR close = std::strchr(index, ']');
        if (close != nullptr) {
            *close = '\0';
        }
        if (index[0] != '\0') {
            *indexOut = index;
        }
    }
    return nameField;
}

// --- stacks and positions ------------------------------------------------------------------------

// Both stacks grow together or not at all.
bool TextTreeStream::PushGroup(LPCSTR name, LONG offset) {
    LPCSTR entry = name[0] != '\0' ? name : NamelessGroup;
    LONG before = groupNames.GetCount();
    groupNames.Push(entry);
    if (groupNames.GetCount() != before + 1) {
        return false;
    }
    if (!positions.Push(offset)) {
        groupNames.Pop(nullptr);
        return false;
    }
    return true;
}

void TextTreeStream::ForgetArray() {
    delete[] openArray;
    openArray = nullptr;
}

LONG TextTreeStream::Tell() const {
    if (file == nullptr) {
        return -1;
    }
    long offset = std::ftell(file);
    return (offset >= 0 && offset <= 0x7FFFFFFFL) ? LONG(offset) : -1;
}

void TextTreeStream::SeekTo(LONG offset) {
    tooDeepOpen = 0; // a search goes back only to groups it could enter
    if (file != nullptr && offset >= 0) {
        std::fseek(file, offset, SEEK_SET);
    }
}

// --- byte arrays ---------------------------------------------------------------------------------

LONG TextTreeStream::CountArrayLines() {
    LONG start = Tell();
    if (openArray == nullptr || start < 0) {
        return 0;
    }
    LONG lines = 0;
    while (NextLine() && !IsOpenArrayEnd()) {
        ++lines;
    }
    SeekTo(start);
    return lines;
}

LONG TextTreeStream::ReadBytes(BYTE* buffer, LONG size) {
    if (openArray == nullptr) {
        return 0;
    }
    LONG count = 0;
    while (NextLine()) {
        if (IsOpenArrayEnd()) {
            ForgetArray();
            break;
        }
        BYTE byte = 0;
        if (NumberText::ReadHexByte(line, &byte)) {
            if (buffer != nullptr && count < size) {
                buffer[count] = byte;
            }
            ++count;
        }
    }
    return count;
}

LONG TextTreeStream::ReadArrayBytes(BYTE* buffer, LONG size) {
    return ReadBytes(buffer, size);
}

// --- searching -----------------------------------------------------------------------------------

LONG TextTreeStream::Rewind() {
    tooDeepOpen = 0;
    groupNames.Reset();
    ForgetArray();
    positions.Reset();
    if (file == nullptr) {
        return 0;
    }
    std::rewind(file);
    return 1;
}

bool TextTreeStream::MarkGroup(GroupMark* mark) {
    mark->depth = GetDepth();
    mark->name = nullptr;
    mark->offset = 0;
    if (mark->depth == 0) {
        return true;
    }
    mark->name = CopyText(groupNames.GetItem(mark->depth - 1));
    mark->offset = positions.Top();
    return mark->name != nullptr;
}

void TextTreeStream::ReturnToGroup(GroupMark* mark) {
    bool pushed = PushGroup(mark->name, mark->offset);
    delete[] mark->name;
    if (!pushed) {
        Rewind(); // the stacks cannot be put back: start again from the top
        return;
    }
    SeekTo(mark->offset);
}

template <typename Match> LONG TextTreeStream::SearchGroup(Match matches) {
    GroupMark mark;
    if (!MarkGroup(&mark)) {
        Rewind();
        return 0;
    }
    while (NextLine()) {
        LONG kind = ParseLine();
        if (kind == LineGroupEnd && GetDepth() < mark.depth) {
            ReturnToGroup(&mark);
            return 0;
        }
        if (matches(kind, mark.depth)) {
            delete[] mark.name;
            return 1;
        }
    }
    delete[] mark.name;
    Rewind();
    return 0;
}

LONG TextTreeStream::FindGroup(LPCSTR name) {
    ForgetArray();
    return SearchGroup([&](LONG kind, LONG depth) {
        return kind == LineGroupBegin && GetDepth() == depth + 1 &&
               (name == nullptr || lstrcmpiA(nameField, name) == 0);
    });
}

LONG TextTreeStream::EnterNextGroup() {
    return FindGroup(nullptr);
}

LONG TextTreeStream::LeaveGroup() {
    ForgetArray();
    LONG depth = GetDepth();
    while (NextLine()) {
        if (ParseLine() == LineGroupEnd && GetDepth() < depth) {
            return 1;
        }
    }
    Rewind();
    return 0;
}

LONG TextTreeStream::RestartGroup() {
    if (GetDepth() == 0) {
        Rewind();
        return 0;
    }
    SeekTo(positions.Top());
    ForgetArray();
    return 1;
}

LONG TextTreeStream::FindValue(LPCSTR name, LONG kind) {
    if (name == nullptr) {
        return 0;
    }
    return SearchGroup([&](LONG lineKind, LONG depth) {
        bool holdsValue =
            lineKind == LineArrayBegin || (lineKind >= LineInt && lineKind <= LineInt64);
        return holdsValue && GetDepth() == depth && (kind == 0 || kind == lineKind) &&
               lstrcmpiA(nameField, name) == 0;
    });
}

LONG TextTreeStream::FindArray(LPCSTR name) {
    return FindValue(name, LineArrayBegin);
}

LONG TextTreeStream::FindPath(LPCSTR path) {
    Rewind();
    if (path == nullptr) {
        return 1;
    }
    char component[FieldSize];
    for (LPCSTR text = path;;) {
        while (*text == '/') {
            ++text;
        }
        if (*text == '\0') {
            return 1;
        }
        LPCSTR end = text;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        if (!copyField(text, end, component) || !FindGroup(component)) {
            return 0;
        }
        text = end;
    }
}

// --- typed reads by name -------------------------------------------------------------------------

namespace {

// The value of the line a search found, into *out (when given). The field
// is read after the search, which is what fills it.
template <typename T> LONG readFound(LONG found, const T& field, T* out) {
    if (found && out != nullptr) {
        *out = field;
    }
    return found ? 1 : 0;
}

} // namespace

LONG TextTreeStream::ReadBytesByName(LPCSTR name, BYTE* buffer, LONG size) {
    if (buffer == nullptr || !FindArray(name)) {
        return 0;
    }
    return ReadArrayBytes(buffer, size);
}

LONG TextTreeStream::ReadInt64ByName(LPCSTR name, LONGLONG* out) {
    LONG found = FindValue(name, LineInt64);
    return readFound(found, int64Value, out);
}

LONG TextTreeStream::ReadDoubleByName(LPCSTR name, double* out) {
    LONG found = FindValue(name, LineDouble);
    return readFound(found, doubleValue, out);
}

LONG TextTreeStream::ReadStringByName(LPCSTR name, LPSTR* out) {
    if (!FindValue(name, LineString) || out == nullptr) {
        return 0;
    }
    *out = CopyText(valueField);
    return *out != nullptr ? 1 : 0;
}

LONG TextTreeStream::ReadFloatByName(LPCSTR name, float* out) {
    LONG found = FindValue(name, LineFloat);
    return readFound(found, floatValue, out);
}

LONG TextTreeStream::ReadIntByName(LPCSTR name, LONG* out) {
    LONG found = FindValue(name, LineInt);
    return readFound(found, intValue, out);
}

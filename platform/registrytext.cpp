// The registry's text: the regedit export format ("REGEDIT4") in which the
// registry file keeps the tree of keys and values.
//
// Divisions, in order:
//   - writing: the tree as text, as regedit exports it
//   - reading: the text back as a tree
//
// Where this differs from Windows, and why:
// - Not a Windows interface: Windows keeps the registry in binary hives and
//   writes this format only when regedit exports a key. Here it is the
//   store itself, so that the registry can be read, compared and mended with
//   a text editor.
// - Reading takes what writing gives (and what regedit exports in that
//   format): sections of keys, quoted strings, dword: and hex lists, lines
//   continued with a backslash, comments. Deletion entries ("[-key]",
//   "name"=-) are refused rather than applied: the file is the registry,
//   not a change to one.
// - A name or string holding a line break cannot be written in the quoted
//   form; such a string is written as a hex list, and such a name is refused
//   by the registry calls before it gets here.
#include "platform/registryfile.h"

#include "platform/advapi32.h"
#include "platform/chars.h"

#include <algorithm>
#include <cstdio>

namespace registry {

namespace {

const char* const RootNames[RootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                          "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                          "HKEY_CURRENT_CONFIG"};

} // namespace

// --- writing -------------------------------------------------------------------------------------

namespace {

// Regedit escapes only these two characters inside quotes.
void appendQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

// A REG_SZ that the quoted form gives back byte for byte: one terminating
// NUL, no NUL before it, and no line break (the format has no escape for it).
bool isPlainString(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) {
        return false;
    }
    return std::none_of(value.data.begin(), value.data.end() - 1,
                        [](BYTE b) { return b == 0 || b == '\r' || b == '\n'; });
}

// Hex lists wrap as regedit wraps them: a backslash ends a line that has
// grown past 76 columns, and the list goes on indented on the next.
void appendHexList(std::string& out, const std::vector<BYTE>& data, size_t column) {
    char digits[4];
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
        std::snprintf(digits, sizeof digits, "%02x", data[i]);
        out += digits;
        column += 2;
    }
}

void appendValue(std::string& out, const Value& value) {
    size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        appendQuoted(out, value.name);
    }
    out += '=';
    char prefix[24];
    if (isPlainString(value)) {
        appendQuoted(out, std::string(value.data.begin(), value.data.end() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        unsigned long number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                               (static_cast<unsigned long>(value.data[3]) << 24);
        std::snprintf(prefix, sizeof prefix, "dword:%08lx", number);
        out += prefix;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(prefix, sizeof prefix,
                          "hex(%lx):", static_cast<unsigned long>(value.type));
            out += prefix;
        }
        appendHexList(out, value.data, out.size() - lineStart);
    }
    out += '\n';
}

void appendKey(std::string& out, std::string& path, const Key& key, bool isRoot) {
    if (!isRoot || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const Value& value : key.values) {
            appendValue(out, value);
        }
        out += '\n';
    }
    for (const auto& subkey : key.subkeys) {
        size_t length = path.size();
        path += '\\';
        path += subkey->name;
        appendKey(out, path, *subkey, false);
        path.resize(length);
    }
}

} // namespace

std::string Format(const Tree& tree) {
    std::string out = "REGEDIT4\n\n";
    for (int root = 0; root < RootCount; ++root) {
        std::string path = RootNames[root];
        appendKey(out, path, tree.roots[root], true);
    }
    return out;
}

// --- reading -------------------------------------------------------------------------------------

namespace {

std::string trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlankOrLineBreak(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankOrLineBreak(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Reads 1 to `maxDigits` hex digits making up the whole of `text`.
bool parseHexNumber(const std::string& text, size_t maxDigits, unsigned long& number) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    number = 0;
    for (char c : text) {
        int digit = HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        number = number * 16 + static_cast<unsigned long>(digit);
    }
    return true;
}

// A quoted text starting at text[pos]; pos ends just after the closing quote.
bool parseQuoted(const std::string& text, size_t& pos, std::string& out) {
    if (pos >= text.size() || text[pos] != '"') {
        return false;
    }
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (++pos >= text.size() || (text[pos] != '\\' && text[pos] != '"')) {
                return false;
            }
            c = text[pos];
        }
        out += c;
    }
    return false;
}

bool parseHexList(const std::string& text, std::vector<BYTE>& data) {
    std::string list = trimmed(text);
    if (list.empty()) {
        return true;
    }
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        unsigned long byte = 0;
        if (!parseHexNumber(trimmed(list.substr(start, comma - start)), 2, byte)) {
            return false;
        }
        data.push_back(static_cast<BYTE>(byte));
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

bool startsWithNoCase(const std::string& text, const char* prefix, size_t& length) {
    length = std::char_traits<char>::length(prefix);
    return text.size() >= length && SameName(text.substr(0, length), prefix);
}

bool parseData(const std::string& text, Value& value) {
    size_t length = 0;
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string content;
        if (!parseQuoted(text, pos, content) || pos != text.size()) {
            return false;
        }
        value.type = REG_SZ;
        value.data.assign(content.begin(), content.end());
        value.data.push_back(0);
        return true;
    }
    if (startsWithNoCase(text, "dword:", length)) {
        unsigned long number = 0;
        if (!parseHexNumber(text.substr(length), 8, number)) {
            return false;
        }
        value.type = REG_DWORD;
        value.data = {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)};
        return true;
    }
    if (startsWithNoCase(text, "hex:", length)) {
        value.type = REG_BINARY;
        return parseHexList(text.substr(length), value.data);
    }
    if (startsWithNoCase(text, "hex(", length)) {
        size_t close = text.find("):", length);
        unsigned long type = 0;
        if (close == std::string::npos ||
            !parseHexNumber(text.substr(length, close - length), 8, type)) {
            return false;
        }
        value.type = static_cast<DWORD>(type);
        return parseHexList(text.substr(close + 2), value.data);
    }
    return false;
}

// "[HKEY_...\a\b]": the key, created with the keys above it.
Key* parseSection(const std::string& line, Tree& tree) {
    if (line.size() < 2 || line.back() != ']' || line[1] == '-') {
        return nullptr;
    }
    std::string path = line.substr(1, line.size() - 2);
    size_t end = path.find('\\');
    std::string rootText = path.substr(0, end);
    Key* key = nullptr;
    for (int root = 0; root < RootCount; ++root) {
        if (SameName(rootText, RootNames[root])) {
            key = &tree.roots[root];
        }
    }
    while (key != nullptr && end != std::string::npos) {
        size_t start = end + 1;
        end = path.find('\\', start);
        std::string name = path.substr(start, end - start);
        key = name.empty() ? nullptr : &key->AddSubkey(name);
    }
    return key;
}

// `"name"=data` or `@=data`, with hex lists continued over lines ending in a
// backslash; `line` is the index of the value's first line and ends on its
// last.
bool parseValueLine(const std::vector<std::string>& lines, size_t& line, Key& key) {
    std::string text = trimmed(lines[line]);
    while (!text.empty() && text.back() == '\\' && line + 1 < lines.size()) {
        text.pop_back();
        text += trimmed(lines[++line]);
    }
    Value value;
    size_t pos = 0;
    if (text[0] == '@') {
        pos = 1;
    } else if (!parseQuoted(text, pos, value.name)) {
        return false;
    }
    if (pos >= text.size() || text[pos] != '=' || !parseData(text.substr(pos + 1), value)) {
        return false;
    }
    if (Value* existing = key.FindValue(value.name)) {
        *existing = std::move(value);
    } else {
        key.values.push_back(std::move(value));
    }
    return true;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

bool Parse(const std::string& text, Tree& tree) {
    std::vector<std::string> lines = splitLines(text);
    size_t line = 0;
    while (line < lines.size() && trimmed(lines[line]).empty()) {
        ++line;
    }
    if (line == lines.size()) {
        return true; // an empty file is an empty registry
    }
    if (trimmed(lines[line]) != "REGEDIT4") {
        return false;
    }
    Key* current = nullptr;
    for (++line; line < lines.size(); ++line) {
        std::string text = trimmed(lines[line]);
        if (text.empty() || text[0] == ';') {
            continue;
        }
        if (text[0] == '[') {
            current = parseSection(text, tree);
            if (current == nullptr) {
                return false;
            }
        } else if ((text[0] != '@' && text[0] != '"') || current == nullptr ||
                   !parseValueLine(lines, line, *current)) {
            return false;
        }
    }
    return true;
}

} // namespace registry

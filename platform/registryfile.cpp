// The registry stand-in's storage.
//
// The file is the registry: nothing is cached between calls, so two
// processes that share the file see each other's changes at once. A change
// is read-modify-write under flock(LOCK_EX) on a lock file beside the
// registry file (the registry file itself is replaced on every write, so it
// cannot carry the lock), and the new text goes to a temporary file that is
// flushed and renamed over the old one. Readers take no lock: the rename
// shows them either the old file or the new one, never a mixture. A file that
// cannot be read or parsed fails the change before anything is written, so a
// damaged registry is reported, not replaced by an empty one.
#include "platform/registryfile.h"

#include "platform/advapi32.h"
#include "platform/chars.h"
#include "platform/kernel32.h"
#include "platform/posixfile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace registry {

namespace {

const char* const rootNames[RootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                          "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                          "HKEY_CURRENT_CONFIG"};

bool lessName(const std::unique_ptr<Key>& key, const std::string& name) {
    return lstrcmpiA(key->name.c_str(), name.c_str()) < 0;
}

// Where a subkey of that name is in the sorted `subkeys`, if `found`, or else
// where it would go.
std::vector<std::unique_ptr<Key>>::const_iterator
subkeyPosition(const std::vector<std::unique_ptr<Key>>& subkeys, const std::string& name,
               bool& found) {
    auto at = std::lower_bound(subkeys.begin(), subkeys.end(), name, lessName);
    found = at != subkeys.end() && sameName((*at)->name, name);
    return at;
}

// --- writing -------------------------------------------------------------------------

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

// --- reading -------------------------------------------------------------------------

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
    return text.size() >= length && sameName(text.substr(0, length), prefix);
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
        if (sameName(rootText, rootNames[root])) {
            key = &tree.roots[root];
        }
    }
    while (key != nullptr && end != std::string::npos) {
        size_t start = end + 1;
        end = path.find('\\', start);
        std::string name = path.substr(start, end - start);
        key = name.empty() ? nullptr : &key->addSubkey(name);
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
    if (Value* existing = key.findValue(value.name)) {
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

// --- the file ------------------------------------------------------------------------------

LONG loadFrom(const std::string& path, Tree& tree, FILETIME* modified) {
    std::string text;
    LONG result = readFileText(path, text, modified);
    if (result == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS; // no file yet: an empty registry
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return parse(text, tree) ? ERROR_SUCCESS : ERROR_BADDB;
}

// Creates the folders of `path` that are missing (not the last component).
bool makeParentFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += size_t(written);
    }
    return true;
}

// Writes `text` beside `path`, flushes it, and renames it over `path`; the
// file keeps the permissions it had. Called only under the registry's lock,
// so one temporary name serves every writer: what a writer killed before its
// rename left there is overwritten by the next one, never left for good.
LONG replaceFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    FileDescriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) {
        return ERROR_CANTWRITE;
    }
    struct stat old {};
    bool written =
        (stat(path.c_str(), &old) != 0 || fchmod(file.get(), old.st_mode & 07777) == 0) &&
        writeAll(file.get(), text) && fsync(file.get()) == 0;
    written = close(file.release()) == 0 && written;
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// Opens and locks the lock file `path` + `suffix` beside the registry.
int lockBeside(const std::string& path, const char* suffix) {
    if (!makeParentFolders(path)) {
        return -1;
    }
    FileDescriptor lock(open((path + suffix).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    while (lock.valid() && flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return lock.release();
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    struct passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

} // namespace

// --- keys ------------------------------------------------------------------------------

bool sameName(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

Key* Key::findSubkey(const std::string& subName) const {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    return found ? at->get() : nullptr;
}

Key& Key::addSubkey(const std::string& subName) {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    if (found) {
        return **at;
    }
    auto key = std::make_unique<Key>();
    key->name = subName;
    return **subkeys.insert(at, std::move(key));
}

bool Key::removeSubkey(const std::string& subName) {
    bool found = false;
    auto at = subkeyPosition(subkeys, subName, found);
    if (found) {
        subkeys.erase(at);
    }
    return found;
}

Value* Key::findValue(const std::string& valueName) {
    for (Value& value : values) {
        if (sameName(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

bool Key::removeValue(const std::string& valueName) {
    Value* value = findValue(valueName);
    if (value != nullptr) {
        values.erase(values.begin() + (value - values.data()));
    }
    return value != nullptr;
}

const char* rootName(int root) {
    return root >= 0 && root < RootCount ? rootNames[root] : nullptr;
}

// --- the text form -----------------------------------------------------------------------------

std::string format(const Tree& tree) {
    std::string out = "REGEDIT4\n\n";
    for (int root = 0; root < RootCount; ++root) {
        std::string path = rootNames[root];
        appendKey(out, path, tree.roots[root], true);
    }
    return out;
}

bool parse(const std::string& text, Tree& tree) {
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

// --- the file ----------------------------------------------------------------------------------

std::string filePath() {
    const char* named = std::getenv("HOLLIN_REGISTRY");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string folder = (dataHome != nullptr && dataHome[0] == '/')
                             ? std::string(dataHome)
                             : homeFolder() + "/.local/share";
    return folder + "/hollin/registry.reg";
}

LONG load(Tree& tree, FILETIME* modified) {
    return loadFrom(filePath(), tree, modified);
}

LONG update(const std::function<LONG(Tree& tree, bool& changed)>& change) {
    std::string path = filePath();
    FileDescriptor lock(lockBeside(path, ".lock"));
    if (!lock.valid()) {
        return ERROR_CANTWRITE;
    }
    Tree tree;
    LONG result = loadFrom(path, tree, nullptr);
    bool changed = false;
    if (result == ERROR_SUCCESS) {
        result = change(tree, changed);
    }
    if (result == ERROR_SUCCESS && changed) {
        result = replaceFile(path, format(tree));
    }
    return result;
}

// A lock file of its own: the write lock is taken and given up by every
// change inside the registration.
int lockInstallation() {
    return lockBeside(filePath(), ".install");
}

} // namespace registry

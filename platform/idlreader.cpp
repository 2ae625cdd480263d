// The IDL reader: what registration needs from a type library's IDL text.
//
// Divisions, in order:
//   - the reader: a cursor over IDL text that knows its blanks, comments and
//     strings
//   - attributes: the bracketed list before a declaration
//   - declarations: interfaces, dispinterfaces, coclasses and the library
//     block
//   - the library: its identity and the interfaces that go into it
//
// Where this differs from Windows, and why:
// - Windows reads a type library in the binary form MIDL compiles; here the
//   library is its IDL text (see typelib.cpp), since no compiler of that
//   form is at hand. Only what registration needs is understood: the
//   library's attributes and the interfaces it declares or names; every
//   other declaration is passed over up to its closing ";".
// - The preprocessor is not run: "#" lines (#include, #define) are passed
//   over, so an IDL file read here must not build declarations from macros.
#include "platform/idlreader.h"

#include "platform/chars.h"
#include "platform/guidtext.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace idl {

namespace {

// --- the reader ----------------------------------------------------------------------------------

// A cursor over the text that knows IDL's blanks, comments and strings.
class Reader {
public:
    explicit Reader(const std::string& source) : text(source) {}

    bool AtEnd() {
        SkipBlanks();
        return pos >= text.size();
    }

    // Consumes `c` if it is the next character after blanks.
    bool Take(char c) {
        SkipBlanks();
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }

    bool Peek(char c) {
        SkipBlanks();
        return pos < text.size() && text[pos] == c;
    }

    // An Identifier, or the empty text when none comes next.
    std::string Identifier() {
        SkipBlanks();
        size_t start = pos;
        while (pos < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_')) {
            ++pos;
        }
        return text.substr(start, pos - start);
    }

    // The text up to the `close` that balances an `open` just consumed,
    // which is consumed too; strings and nested pairs are passed over.
    bool Balanced(char open, char close, std::string* inner) {
        size_t start = pos;
        int depth = 1;
        while (pos < text.size()) {
            char c = text[pos];
            if (c == '"') {
                if (!SkipString()) {
                    return false;
                }
                continue;
            }
            ++pos;
            if (c == open) {
                ++depth;
            } else if (c == close && --depth == 0) {
                if (inner != nullptr) {
                    *inner = text.substr(start, pos - 1 - start);
                }
                return true;
            }
        }
        return false;
    }

    // Passes over a declaration up to its ";" (or the "}" that ends the
    // enclosing block, which is left in place).
    bool SkipDeclaration() {
        while (!AtEnd()) {
            char c = text[pos];
            if (c == ';') {
                ++pos;
                return true;
            }
            if (c == '}') {
                return true;
            }
            if (c == '"') {
                if (!SkipString()) {
                    return false;
                }
                continue;
            }
            ++pos;
            if ((c == '{' && !Balanced('{', '}', nullptr)) ||
                (c == '(' && !Balanced('(', ')', nullptr)) ||
                (c == '[' && !Balanced('[', ']', nullptr))) {
                return false;
            }
        }
        return true;
    }

private:
    void SkipBlanks() {
        while (pos < text.size()) {
            char c = text[pos];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos;
            } else if (text.compare(pos, 2, "//") == 0 || (c == '#' && AtLineStart())) {
                pos = text.find('\n', pos);
                pos = pos == std::string::npos ? text.size() : pos;
            } else if (text.compare(pos, 2, "/*") == 0) {
                size_t end = text.find("*/", pos + 2);
                pos = end == std::string::npos ? text.size() : end + 2;
            } else {
                return;
            }
        }
    }

    bool AtLineStart() const {
        size_t before = pos;
        while (before > 0 && IsBlank(text[before - 1])) {
            --before;
        }
        return before == 0 || text[before - 1] == '\n';
    }

    bool SkipString() {
        for (++pos; pos < text.size(); ++pos) {
            if (text[pos] == '\\') {
                ++pos;
            } else if (text[pos] == '"') {
                ++pos;
                return true;
            }
        }
        return false;
    }

    const std::string& text;
    size_t pos = 0;
};

// --- attributes ----------------------------------------------------------------------------------

struct Attribute {
    std::string name;
    std::string argument; // the raw text between the parentheses, if any
};
typedef std::vector<Attribute> Attributes;

const Attribute* findAttribute(const Attributes& attributes, const char* name) {
    for (const Attribute& attribute : attributes) {
        if (attribute.name == name) {
            return &attribute;
        }
    }
    return nullptr;
}

std::string unquoted(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    size_t end = text.find_last_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return "";
    }
    std::string inner = text.substr(begin, end - begin + 1);
    if (inner.size() >= 2 && inner.front() == '"' && inner.back() == '"') {
        inner = inner.substr(1, inner.size() - 2);
    }
    return inner;
}

bool readAttributes(Reader& reader, Attributes& attributes) {
    if (!reader.Take('[')) {
        return true;
    }
    do {
        if (reader.Peek(']')) {
            break;
        }
        Attribute attribute;
        attribute.name = reader.Identifier();
        if (attribute.name.empty()) {
            return false;
        }
        if (reader.Take('(') && !reader.Balanced('(', ')', &attribute.argument)) {
            return false;
        }
        attributes.push_back(std::move(attribute));
    } while (reader.Take(','));
    return reader.Take(']');
}

// --- declarations --------------------------------------------------------------------------------

struct Parsed {
    std::vector<Interface> declared;
    std::vector<std::string> named; // names given inside the library block
    std::vector<Interface> insideLibrary;
    Library library;
    bool haveLibrary = false;
};

bool readBlock(Reader& reader, Parsed& parsed, bool inLibrary);

bool readInterface(Reader& reader, const Attributes& attributes, bool dispatch, Parsed& parsed,
                   bool inLibrary) {
    Interface declared;
    declared.name = reader.Identifier();
    declared.dispatch = dispatch;
    if (declared.name.empty()) {
        return false;
    }
    if (reader.Take(';')) { // a forward declaration
        if (inLibrary) {
            parsed.named.push_back(declared.name);
        }
        return true;
    }
    if (reader.Take(':') && reader.Identifier().empty()) {
        return false;
    }
    if (!reader.Take('{') || !reader.Balanced('{', '}', nullptr)) {
        return false;
    }
    reader.Take(';');
    const Attribute* uuid = findAttribute(attributes, "uuid");
    if (uuid == nullptr || !ParseGuid(unquoted(uuid->argument), declared.iid)) {
        return false;
    }
    declared.automation = findAttribute(attributes, "oleautomation") != nullptr ||
                          findAttribute(attributes, "dual") != nullptr;
    (inLibrary ? parsed.insideLibrary : parsed.declared).push_back(declared);
    return true;
}

bool readCoclass(Reader& reader, Parsed& parsed, bool inLibrary) {
    if (reader.Identifier().empty() || !reader.Take('{')) {
        return false;
    }
    while (!reader.Take('}')) {
        Attributes ignored;
        if (!readAttributes(reader, ignored)) {
            return false;
        }
        std::string kind = reader.Identifier();
        std::string name = reader.Identifier();
        if ((kind != "interface" && kind != "dispinterface") || name.empty() || !reader.Take(';')) {
            return false;
        }
        if (inLibrary) {
            parsed.named.push_back(name);
        }
    }
    reader.Take(';');
    return true;
}

bool readLibrary(Reader& reader, const Attributes& attributes, Parsed& parsed) {
    Library& library = parsed.library;
    library.name = reader.Identifier();
    const Attribute* uuid = findAttribute(attributes, "uuid");
    if (parsed.haveLibrary || library.name.empty() || uuid == nullptr ||
        !ParseGuid(unquoted(uuid->argument), library.guid) || !reader.Take('{')) {
        return false;
    }
    parsed.haveLibrary = true;
    if (const Attribute* version = findAttribute(attributes, "version")) {
        unsigned major = 0;
        unsigned minor = 0;
        if (std::sscanf(version->argument.c_str(), "%u.%u", &major, &minor) < 1 || major > 0xFFFF ||
            minor > 0xFFFF) {
            return false;
        }
        library.majorVersion = WORD(major);
        library.minorVersion = WORD(minor);
    }
    if (const Attribute* lcid = findAttribute(attributes, "lcid")) {
        library.lcid = LCID(std::strtoul(lcid->argument.c_str(), nullptr, 0));
    }
    if (const Attribute* help = findAttribute(attributes, "helpstring")) {
        library.helpString = unquoted(help->argument);
    }
    const std::pair<const char*, WORD> flags[] = {{"restricted", LIBFLAG_FRESTRICTED},
                                                  {"control", LIBFLAG_FCONTROL},
                                                  {"hidden", LIBFLAG_FHIDDEN}};
    for (const auto& flag : flags) {
        if (findAttribute(attributes, flag.first) != nullptr) {
            library.flags |= flag.second;
        }
    }
    if (!readBlock(reader, parsed, true)) {
        return false;
    }
    reader.Take(';');
    return true;
}

// Declarations up to the end of the text, or in a library up to its "}".
bool readBlock(Reader& reader, Parsed& parsed, bool inLibrary) {
    for (;;) {
        if (reader.AtEnd()) {
            return !inLibrary;
        }
        if (inLibrary && reader.Take('}')) {
            return true;
        }
        Attributes attributes;
        if (!readAttributes(reader, attributes)) {
            return false;
        }
        std::string keyword = reader.Identifier();
        bool ok = true;
        if (keyword == "library") {
            ok = !inLibrary && readLibrary(reader, attributes, parsed);
        } else if (keyword == "interface" || keyword == "dispinterface") {
            ok = readInterface(reader, attributes, keyword == "dispinterface", parsed, inLibrary);
        } else if (keyword == "coclass") {
            ok = readCoclass(reader, parsed, inLibrary);
        } else if (keyword.empty() && reader.Peek('}')) {
            ok = false; // a "}" that closes nothing
        } else {
            ok = reader.SkipDeclaration();
        }
        if (!ok) {
            return false;
        }
    }
}

// --- the library ---------------------------------------------------------------------------------

bool hasInterface(const std::vector<Interface>& interfaces, const std::string& name) {
    for (const Interface& known : interfaces) {
        if (known.name == name) {
            return true;
        }
    }
    return false;
}

} // namespace

bool Read(const std::string& text, Library& library) {
    Reader reader(text);
    Parsed parsed;
    if (!readBlock(reader, parsed, false) || !parsed.haveLibrary) {
        return false;
    }
    library = parsed.library;
    library.interfaces = parsed.insideLibrary;
    for (const std::string& name : parsed.named) {
        for (const Interface& declared : parsed.declared) {
            if (declared.name == name && !hasInterface(library.interfaces, name)) {
                library.interfaces.push_back(declared);
            }
        }
    }
    return true;
}

} // namespace idl

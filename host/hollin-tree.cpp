// hollin-tree: for people who keep data in the toolkit's text format.
//
//   hollin-tree cat FILE     loads FILE into a folder and writes it back out
//                            in the format (a round trip that normalises it),
//                            to standard output or, with -o, to a file
//   hollin-tree check FILE   lists the lines a load would not read
//
// Exit status: 0 when all went well, 1 when check found lines it could not
// read or cat could not write its output, 2 for a wrong command line or a
// file that cannot be read.

#include "toolkit/Folder.h"
#include "toolkit/NumberText.h"
#include "toolkit/TextTreeStream.h"

#include "CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char Usage[] = "usage: hollin-tree cat [-o OUTPUT] FILE\n"
                     "       hollin-tree check FILE\n"
                     "       hollin-tree --help | --version\n";

const char Help[] =
    "hollin-tree reads files of hollin's tree text format: groups ({ name: ... } name;),\n"
    "byte arrays ([ name: ... ] name;) and typed value lines ((int)name[index]=5).\n"
    "\n"
    "  cat FILE     load FILE into a folder and write the folder back out in the\n"
    "               format to standard output: records first, then sub-folders,\n"
    "               values in the order read. Lines that cannot be read are left out.\n"
    "  -o, --output OUTPUT\n"
    "               cat writes OUTPUT instead of standard output (it may be FILE):\n"
    "               the whole tree or, when a write fails, nothing, leaving OUTPUT\n"
    "               as it was.\n"
    "  check FILE   list the lines of FILE that a load would not read, as\n"
    "               FILE:LINE: reason, and exit with 1 when there are any.\n"
    "               (A record name that is also a group's is not reported.)\n"
    "\n"
    "  -h, --help   this text (also after the command: hollin-tree check --help)\n"
    "  --version    the version\n"
    "\n"
    "Exit status: 0 all well, 1 lines not read (check) or output not written (cat),\n"
    "2 a wrong command line or a file that cannot be read.\n";

enum ExitStatus { Success = 0, Problems = 1, Trouble = 2 };

const char Program[] = "hollin-tree";

// The longest line, and the longest name, type or value, that a load reads
// whole, in characters.
const std::string LongestLine = std::to_string(TextTreeStream::LineSize - 1);
const std::string LongestField = std::to_string(TextTreeStream::FieldSize - 1);

// Empty when `path` names a file that can be opened, else why not.
std::string unreadable(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "is a directory";
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    std::fclose(file);
    return "";
}

// Writes the folder to `output`, whole or not at all.
int writeFile(Folder& folder, const std::string& output) {
    TextTreeStream out(output.c_str(), StreamWrite);
    LONG written = out.IsOpen() && folder.WriteTo(&out);
    if (out.Flush() && written) {
        return Success;
    }
    char failure[2048];
    if (GetLastFileFailure(failure, sizeof failure) > 0) {
        std::fprintf(stderr, "hollin-tree: cannot write %s, left as it was: %s\n", output.c_str(),
                     failure);
    } else {
        std::fprintf(stderr,
                     "hollin-tree: %s was written without the names the format cannot "
                     "carry\n",
                     output.c_str());
    }
    return Problems;
}

int cat(const std::string& path, const std::string& output) {
    Folder folder(path.c_str());
    folder.SetFileBacked(1);
    if (!folder.Load()) {
        if (folder.ReadWasCut()) {
            std::fprintf(stderr,
                         "hollin-tree: %s nests groups deeper than %ld levels; they were "
                         "not read\n",
                         path.c_str(), long(MaxTreeDepth));
        } else {
            std::fprintf(stderr, "hollin-tree: cannot read %s\n", path.c_str());
        }
        return Trouble;
    }
    if (!output.empty()) {
        return writeFile(folder, output);
    }
    TextTreeStream out(stdout, StreamWrite, "standard output");
    if (!folder.WriteTo(&out) || !out.Flush()) {
        std::fprintf(stderr, "hollin-tree: cannot write all of the tree to standard output: the "
                             "output failed, or a name the format cannot carry was left out\n");
        return Problems;
    }
    return Success;
}

// Reads a file line by line as a load does and tells which lines it would
// not read.
class Checker {
public:
    Checker(const std::string& path, TextTreeStream& stream) : path(path), stream(stream) {}

    // The number of problems found.
    int Run();

private:
    struct Opened {
        long line;
        std::string name;
    };

    void Report(long line, const std::string& reason);
    // Follows the groups and the array the stream is in.
    void Track(long line, LONG kind, bool inArray);
    void JudgeArrayLine(long line, LONG kind);
    void JudgeLine(long line, LONG kind, const std::string& text);
    void Unrecognised(long line, const std::string& text);

    std::string path;
    TextTreeStream& stream;
    std::vector<Opened> groups;
    Opened array{0, ""};
    int problems = 0;
};

void Checker::Report(long line, const std::string& reason) {
    std::printf("%s:%ld: %s\n", path.c_str(), line, reason.c_str());
    ++problems;
}

int Checker::Run() {
    long lineNumber = 1;
    long longLine = 0; // the last line reported as too long
    bool continued = false;
    while (stream.NextLine()) {
        std::string text = stream.GetLine();
        bool complete = !text.empty() && text.back() == '\n';
        bool cut = !complete && text.size() == size_t(TextTreeStream::LineSize - 1);
        LONG kind = stream.ParseLine();
        bool inArray = array.line != 0;
        if ((cut || continued) && longLine != lineNumber) {
            Report(lineNumber,
                   "longer than " + LongestLine + " characters: read in pieces, each as a line");
            longLine = lineNumber;
        }
        if (longLine != lineNumber) { // nothing more is said about a long line
            if (inArray) {
                JudgeArrayLine(lineNumber, kind);
            } else {
                JudgeLine(lineNumber, kind, text);
            }
        }
        Track(lineNumber, kind, inArray);
        continued = cut;
        if (complete) {
            ++lineNumber;
        }
    }
    if (array.line != 0) {
        Report(array.line, "array '" + array.name + "' has no end line");
    }
    for (auto group = groups.rbegin(); group != groups.rend(); ++group) {
        Report(group->line, "group '" + group->name + "' is not closed");
    }
    return problems;
}

void Checker::Track(long line, LONG kind, bool inArray) {
    if (inArray) {
        if (kind == LineArrayEnd) {
            array = {0, ""};
        }
    } else if (kind == LineGroupBegin) {
        groups.push_back({line, stream.GetName(nullptr)});
    } else if (kind == LineGroupEnd && !groups.empty()) {
        groups.pop_back();
    } else if (kind == LineArrayBegin) {
        array = {line, stream.GetName(nullptr)};
    }
}

// Inside an array a load reads every line up to the end line as a byte.
void Checker::JudgeArrayLine(long line, LONG kind) {
    BYTE byte = 0;
    if (kind != LineArrayEnd && !NumberText::ReadHexByte(stream.GetLine(), &byte)) {
        Report(line, "not a byte of array '" + array.name + "'");
    }
}

void Checker::JudgeLine(long line, LONG kind, const std::string& text) {
    if (kind == LineGroupBegin && groups.size() == size_t(Folder::MaxReadNesting)) {
        Report(line, "groups nested deeper than " + std::to_string(Folder::MaxReadNesting) +
                         ": this one is skipped");
    } else if (kind == LineUnknown || kind == LineData) {
        Unrecognised(line, text);
    }
}

void Checker::Unrecognised(long line, const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    char start = first == std::string::npos ? '\n' : text[first];
    switch (start) {
    case '\r':
    case '\n':
    case ';':
        return; // blank lines and comments are meant to be passed over
    case '(':
        Report(line, "value line not read: no type, a type not known, a number that does not "
                     "parse, or a part longer than " +
                         LongestField + " characters");
        break;
    case '{':
        Report(line, "group begin not read: no blank after the brace, a name longer than " +
                         LongestField + " characters, or more than " +
                         std::to_string(TextTreeStream::MaxDepth) + " groups deep");
        break;
    case '}':
        Report(line, groups.empty()
                         ? std::string("group end with no group open")
                         : "group end that does not close group '" + groups.back().name + "'");
        break;
    case '[':
        Report(line, "array begin not read: no blank after the bracket, or a name longer than " +
                         LongestField + " characters");
        break;
    case ']':
        Report(line, "array end with no array open");
        break;
    default:
        Report(line, "not a line of the format");
        break;
    }
}

int check(const std::string& path) {
    TextTreeStream stream(path.c_str(), StreamRead);
    if (!stream.IsOpen()) {
        std::fprintf(stderr, "hollin-tree: cannot read %s\n", path.c_str());
        return Trouble;
    }
    return Checker(path, stream).Run() > 0 ? Problems : Success;
}

enum OptionKey { VersionOption = 256 };

const option LongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

int help() {
    std::fputs(Usage, stdout);
    std::fputs("\n", stdout);
    std::fputs(Help, stdout);
    return Success;
}

} // namespace

int main(int argc, char** argv) {
    std::string output;
    for (int key; (key = commandline::NextOption(argc, argv, "ho:", LongOptions)) != -1;) {
        switch (key) {
        case 'o':
            output = optarg;
            break;
        case 'h':
            return help();
        case VersionOption:
            return commandline::PrintVersion(Program);
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    std::vector<std::string> args(argv + optind, argv + argc);
    if (args.size() != 2 || (args[0] != "cat" && args[0] != "check") ||
        (args[0] != "cat" && !output.empty())) {
        std::fputs(Usage, stderr);
        return Trouble;
    }
    std::string why = unreadable(args[1]);
    if (!why.empty()) {
        std::fprintf(stderr, "hollin-tree: cannot read %s: %s\n", args[1].c_str(), why.c_str());
        return Trouble;
    }
    return args[0] == "cat" ? cat(args[1], output) : check(args[1]);
}

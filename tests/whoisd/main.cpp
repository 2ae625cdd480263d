// hollin-whoisd: the whois server hollin's tests and demos talk to.
#include "tests/whoisd/WhoisServer.h"

#include "host/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

const char Usage[] =
    "usage: hollin-whoisd [--port N] [--port-file FILE] [--replies FILE]... [--record FILE]\n"
    "                     [--idle-ms MS]\n"
    "\n"
    "A whois server for hollin's tests and demos. It listens on 127.0.0.1 only,\n"
    "serves each connection on a thread of its own, reads the query line (up to\n"
    "its line feed) and answers by query, until SIGINT or SIGTERM.\n"
    "\n"
    "  --port N          the port to listen on (default 4343; 0 picks a free one)\n"
    "  --port-file FILE  write the port, once listening, to FILE (removed at exit)\n"
    "  --replies FILE    more canned replies: lines before the first \"@@ QUERY\"\n"
    "                    line are comments; each \"@@ QUERY\" line starts the reply\n"
    "                    to QUERY, made of the following lines, bytes unchanged\n"
    "  --record FILE     append one line per connection to FILE: the bytes it sent\n"
    "                    as a quoted C-style text (\"example.com\\n\"; \"\" when\n"
    "                    nothing came)\n"
    "  --idle-ms MS      a client that sends nothing for MS milliseconds has sent\n"
    "                    its query (default 1000); one that sent nothing at all is\n"
    "                    answered \"% hollin-whoisd: no query was received.\"\n"
    "  -h, --help        this text\n"
    "  --version         the version\n"
    "\n"
    "Queries (ASCII case does not matter):\n"
    "  example.com  a registry's reply (CR LF line ends)\n"
    "  close        closes at once without a reply\n"
    "  silent       never answers; holds the connection until the client closes\n"
    "  reset        sends a few lines, then resets the connection\n"
    "  large        2048 numbered lines of 64 bytes (128 KiB)\n"
    "  drip         10 lines, 100 ms apart\n"
    "  hostile      a reply full of HTML markup and entities\n"
    "  anything else: its canned reply, or 'No match for \"QUERY\".'\n"
    "\n"
    "Exit status: 0 after a signal, 1 when the port or a file cannot be used,\n"
    "2 for bad usage.\n";

struct Options {
    long port = 4343;
    long idleMs = whoisd::DefaultIdleMs;
    std::string portFile;
    std::string recordFile;
    std::vector<std::string> replyFiles;
};

const char Program[] = "hollin-whoisd";

enum OptionKey {
    PortOption = 256,
    PortFileOption,
    RepliesOption,
    RecordOption,
    IdleOption,
    VersionOption
};

const option LongOptions[] = {
    {"port", required_argument, nullptr, PortOption},
    {"port-file", required_argument, nullptr, PortFileOption},
    {"replies", required_argument, nullptr, RepliesOption},
    {"record", required_argument, nullptr, RecordOption},
    {"idle-ms", required_argument, nullptr, IdleOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

// Returns -1 when the options are good, else the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    using commandline::UsageError;
    for (int key; (key = commandline::NextOption(argc, argv, "h", LongOptions)) != -1;) {
        switch (key) {
        case 'h':
            std::fputs(Usage, stdout);
            return 0;
        case VersionOption:
            return commandline::PrintVersion(Program);
        case PortOption:
            if (!commandline::ReadNumber(optarg, 0, 65535, options.port)) {
                return UsageError(Program, "--port wants a number from 0 to 65535");
            }
            break;
        case IdleOption:
            if (!commandline::ReadNumber(optarg, 1, 600000, options.idleMs)) {
                return UsageError(Program, "--idle-ms wants a number from 1 to 600000");
            }
            break;
        case PortFileOption:
            options.portFile = optarg;
            break;
        case RecordOption:
            options.recordFile = optarg;
            break;
        case RepliesOption:
            options.replyFiles.push_back(optarg);
            break;
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    if (optind < argc) {
        return UsageError(Program, std::string("unexpected argument ") + argv[optind]);
    }
    return -1;
}

// Written under another name first, so that a script waiting for the file
// never reads half a number.
bool writePortFile(const std::string& path, uint16_t port) {
    std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fprintf(file, "%u\n", unsigned(port)) > 0;
    written = std::fclose(file) == 0 && written;
    return written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "hollin-whoisd: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) {
        return status;
    }

    whoisd::CannedReplies replies;
    for (const std::string& path : options.replyFiles) {
        std::string error;
        if (!replies.LoadFile(path, error)) {
            return failure(error);
        }
    }
    FILE* record = nullptr;
    if (!options.recordFile.empty() &&
        (record = std::fopen(options.recordFile.c_str(), "a")) == nullptr) {
        return failure("cannot append to " + options.recordFile + ": " + std::strerror(errno));
    }

    // The signals are taken by sigwait below; every thread the server
    // starts inherits the mask and leaves them alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    whoisd::WhoisServer server(replies);
    server.SetIdleTime(int(options.idleMs));
    if (record != nullptr) {
        server.OnReceived([record](const whoisd::Received& received) {
            std::fprintf(record, "%s\n", whoisd::QuoteBytes(received.bytes).c_str());
            std::fflush(record);
        });
    }
    std::string error;
    if (!server.Start(uint16_t(options.port), error)) {
        return failure(error);
    }
    if (!options.portFile.empty() && !writePortFile(options.portFile, server.port())) {
        server.Stop();
        return failure("cannot write the port to " + options.portFile);
    }
    std::fprintf(stderr, "hollin-whoisd: listening on 127.0.0.1:%u\n", unsigned(server.port()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    if (!options.portFile.empty()) {
        std::remove(options.portFile.c_str());
    }
    if (record != nullptr) {
        std::fclose(record);
    }
    return 0;
}

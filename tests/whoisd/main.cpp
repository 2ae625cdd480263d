// hollin-whoisd: the whois server hollin's tests and demos talk to.
#include "tests/whoisd/WhoisServer.h"

#include "host/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

const char Usage[] =
    "usage: hollin-whoisd [--ipv6] [--port-file FILE] [--idle-ms MS] [--replies FILE]...\n"
    "                     [--record FILE] [--port N [--replies FILE]... [--record FILE]]...\n"
    "\n"
    "A whois server for hollin's tests and demos. It listens on 127.0.0.1 only\n"
    "(::1 with --ipv6), serves each connection on a thread of its own, reads the\n"
    "query line (up to its line feed) and answers by query, until SIGINT or SIGTERM.\n"
    "\n"
    "  --port N          a port to listen on (default 4343; 0 picks a free one).\n"
    "                    Given more than once, one server listens on each port,\n"
    "                    so that one program can play a server that refers\n"
    "                    onwards and the servers it refers to. --replies and\n"
    "                    --record after a --port are that server's own; before\n"
    "                    the first --port they are every server's\n"
    "  --port-file FILE  write the ports, once listening, to FILE, one a line in\n"
    "                    the order given (removed at exit)\n"
    "  --ipv6            listen on ::1 instead of 127.0.0.1\n"
    "  --replies FILE    more canned replies: lines before the first \"@@ QUERY\"\n"
    "                    line are comments; each \"@@ QUERY\" line starts the reply\n"
    "                    to QUERY, made of the following lines, bytes unchanged;\n"
    "                    ${port1}, ${port2}, ... in a reply become the ports of\n"
    "                    the first, second, ... --port, so that a reply such as\n"
    "                    \"refer: 127.0.0.1:${port2}\" names another server\n"
    "  --record FILE     append one line per connection to FILE: the bytes it sent\n"
    "                    as a quoted C-style text (\"example.com\\n\"; \"\" when\n"
    "                    nothing came); counting its lines counts connections\n"
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
    "A chain of referrals on three ports (IANA, a registry, a registrar):\n"
    "  hollin-whoisd --port 4343 --replies iana.txt --port 4344 --replies registry.txt\n"
    "                --port 4345 --replies registrar.txt\n"
    "\n"
    "Exit status: 0 after a signal, 1 when the port or a file cannot be used,\n"
    "2 for bad usage.\n";

// One listening server: its port, and the files that are its own.
struct ServerOptions {
    long port = 4343;
    std::vector<std::string> replyFiles;
    std::string recordFile;
};

struct Options {
    bool ipv6 = false;
    long idleMs = whoisd::DefaultIdleMs;
    std::string portFile;
    ServerOptions shared; // --replies and --record before the first --port
    std::vector<ServerOptions> servers;
};

const char Program[] = "hollin-whoisd";

enum OptionKey {
    PortOption = 256,
    PortFileOption,
    RepliesOption,
    RecordOption,
    IdleOption,
    Ipv6Option,
    VersionOption
};

const option LongOptions[] = {
    {"port", required_argument, nullptr, PortOption},
    {"port-file", required_argument, nullptr, PortFileOption},
    {"replies", required_argument, nullptr, RepliesOption},
    {"record", required_argument, nullptr, RecordOption},
    {"idle-ms", required_argument, nullptr, IdleOption},
    {"ipv6", no_argument, nullptr, Ipv6Option},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, VersionOption},
    {nullptr, 0, nullptr, 0},
};

// The server that --replies and --record belong to: the last --port's, or
// the one shared by every server before the first --port.
ServerOptions& currentServer(Options& options) {
    return options.servers.empty() ? options.shared : options.servers.back();
}

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
        case Ipv6Option:
            options.ipv6 = true;
            break;
        case PortOption: {
            // Each --port starts a server; --replies and --record after it
            // are that server's own.
            ServerOptions server;
            if (!commandline::ReadNumber(optarg, 0, 65535, server.port)) {
                return UsageError(Program, "--port wants a number from 0 to 65535");
            }
            options.servers.push_back(server);
            break;
        }
        case IdleOption:
            if (!commandline::ReadNumber(optarg, 1, 600000, options.idleMs)) {
                return UsageError(Program, "--idle-ms wants a number from 1 to 600000");
            }
            break;
        case PortFileOption:
            options.portFile = optarg;
            break;
        case RecordOption:
            currentServer(options).recordFile = optarg;
            break;
        case RepliesOption:
            currentServer(options).replyFiles.push_back(optarg);
            break;
        default:
            return commandline::ReportBadOption(Program, key, argv, LongOptions);
        }
    }
    if (optind < argc) {
        return UsageError(Program, std::string("unexpected argument ") + argv[optind]);
    }
    if (options.servers.empty()) {
        options.servers.emplace_back();
    }
    return -1;
}

// Written under another name first, so that a script waiting for the file
// never reads half a number.
bool writePortFile(const std::string& path, const std::vector<uint16_t>& ports) {
    std::string temporary = path + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    bool written = true;
    for (uint16_t port : ports) {
        written = std::fprintf(file, "%u\n", unsigned(port)) > 0 && written;
    }
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

    // The record files, each opened once however many servers share it.
    std::map<std::string, FILE*> records;
    for (const ServerOptions& server : options.servers) {
        const std::string& path =
            server.recordFile.empty() ? options.shared.recordFile : server.recordFile;
        if (!path.empty() && records.count(path) == 0) {
            FILE* record = std::fopen(path.c_str(), "a");
            if (record == nullptr) {
                return failure("cannot append to " + path + ": " + std::strerror(errno));
            }
            records[path] = record;
        }
    }

    // The signals are taken by sigwait below; every thread the server
    // starts inherits the mask and leaves them alone.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<whoisd::WhoisServer>> servers;
    std::vector<uint16_t> ports;
    for (const ServerOptions& serverOptions : options.servers) {
        servers.emplace_back(new whoisd::WhoisServer());
        whoisd::WhoisServer& server = *servers.back();
        server.SetIdleTime(int(options.idleMs));
        server.SetIPv6(options.ipv6);
        const std::string& path =
            serverOptions.recordFile.empty() ? options.shared.recordFile : serverOptions.recordFile;
        if (!path.empty()) {
            FILE* record = records[path];
            server.OnReceived([record](const whoisd::Received& received) {
                std::fprintf(record, "%s\n", whoisd::QuoteBytes(received.bytes).c_str());
                std::fflush(record);
            });
        }
        std::string error;
        if (!server.Start(uint16_t(serverOptions.port), error)) {
            return failure(error);
        }
        ports.push_back(server.port());
    }
    // The replies are loaded once every port is known, for them to name.
    for (size_t i = 0; i < servers.size(); ++i) {
        whoisd::CannedReplies replies;
        std::vector<std::string> files = options.shared.replyFiles;
        files.insert(files.end(), options.servers[i].replyFiles.begin(),
                     options.servers[i].replyFiles.end());
        for (const std::string& path : files) {
            std::string error;
            if (!replies.LoadFile(path, error)) {
                return failure(error);
            }
        }
        for (size_t j = 0; j < ports.size(); ++j) {
            replies.Substitute("${port" + std::to_string(j + 1) + "}", std::to_string(ports[j]));
        }
        servers[i]->SetReplies(replies);
    }
    if (!options.portFile.empty() && !writePortFile(options.portFile, ports)) {
        return failure("cannot write the ports to " + options.portFile);
    }
    for (uint16_t port : ports) {
        std::fprintf(stderr,
                     options.ipv6 ? "hollin-whoisd: listening on [::1]:%u\n"
                                  : "hollin-whoisd: listening on 127.0.0.1:%u\n",
                     unsigned(port));
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    servers.clear(); // each stops as it goes
    if (!options.portFile.empty()) {
        std::remove(options.portFile.c_str());
    }
    for (auto& record : records) {
        std::fclose(record.second);
    }
    return 0;
}

// hollin-rdapd for a test: on a port of its choosing, serving a routes file,
// ended when the object goes; and the certificates an HTTPS test makes.
#pragma once

#include "ChildProcess.h"
#include "NativeTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

class RdapServer {
public:
    // Serves the routes file `routes`, logging each request to `log`.
    RdapServer(const std::string& routes, const std::string& logFile,
               const std::vector<std::string>& options = {})
        : log(logFile) {
        WriteBytes(log, "");
        std::vector<std::string> arguments = {BuildFile("hollin-rdapd"), "--routes", routes,
                                              "--log", log};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::string announced = log + ".port";
        WriteBytes(announced, "");
        if (!server.Start(arguments, announced)) {
            return;
        }
        for (int wait = 0; wait < 1000 && port == 0; ++wait) {
            usleep(10000);
            std::sscanf(ReadText(announced).c_str(), "listening on %d", &port);
        }
    }
    // Serves `routes`, written to `folder` beside the log.
    RdapServer(const TempDir& folder, const std::string& routes,
               const std::vector<std::string>& options = {})
        : RdapServer(writeRoutes(folder, routes), folder.Path("requests.log"), options) {}
    ~RdapServer() {
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Finish().exitStatus, 0);
    }
    RdapServer(const RdapServer&) = delete;
    RdapServer& operator=(const RdapServer&) = delete;

    int Port() const { return port; }
    std::string Url(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(port) + path;
    }
    std::string Log() const { return ReadText(log); }

private:
    static std::string writeRoutes(const TempDir& folder, const std::string& routes) {
        WriteBytes(folder.Path("routes.json"), routes);
        return folder.Path("routes.json");
    }

    ChildProcess server;
    std::string log;
    int port = 0;
};

// Runs a shell command line; true when it exits 0.
inline bool RunShell(const std::string& commandLine) {
    return RunProgram({"/bin/sh", "-c", commandLine}).exitStatus == 0;
}

// Makes, in `folder`, an authority (ca.pem) and a certificate it signed for
// 127.0.0.1 (server.pem, server.key); false where openssl fails.
inline bool MakeTestCertificates(const TempDir& folder) {
    const std::string in = "cd '" + folder.Path("") + "' && ";
    const std::string key = "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 ";
    WriteBytes(folder.Path("server.ext"), "subjectAltName = IP:127.0.0.1\n"
                                          "basicConstraints = CA:FALSE\n"
                                          "extendedKeyUsage = serverAuth\n");
    return RunShell(in + key + "-out ca.key && " + key + "-out server.key") &&
           RunShell(in + "openssl req -x509 -new -key ca.key -subj '/CN=hollin test authority' "
                         "-days 2 -out ca.pem") &&
           RunShell(in + "openssl req -new -key server.key -subj /CN=127.0.0.1 -out server.csr && "
                         "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key "
                         "-CAcreateserial -days 2 -extfile server.ext -out server.pem");
}

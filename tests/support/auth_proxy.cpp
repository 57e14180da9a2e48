// tinyproxy as the tests' forward proxy with Basic authentication, run in the foreground as
// our child with its configuration, log and pid file in a temporary folder.
#include <csignal>
#include <stdexcept>
#include <string>

#include "support/real_servers.h"

namespace testing_support {
namespace {

constexpr const char* kProxyBinary = "/usr/bin/tinyproxy";
constexpr int kStartAttempts = 5;

// No ConnectPort line: CONNECT is then allowed to every port, as the tests' HTTPS ports are
// chosen at run time. No User line either: the proxy keeps our identity, so it can write into
// our private folder whether we run as root or not.
std::string Config(const std::string& folder, std::uint16_t port, const std::string& user,
                   const std::string& password) {
    std::string config = "Port " + std::to_string(port) + "\n";
    config += "Listen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 64\nLogLevel Info\n";
    config += "LogFile \"" + folder + "/tinyproxy.log\"\n";
    config += "PidFile \"" + folder + "/tinyproxy.pid\"\n";
    config += "BasicAuth " + user + " " + password + "\n";
    return config;
}

}  // namespace

AuthProxy::AuthProxy(const std::string& user, const std::string& password) {
    const std::string folder = folder_.path();
    for (int attempt = 1;; ++attempt) {
        port_ = FreeLoopbackPort();
        WriteFileBytes(folder + "/tinyproxy.conf", Config(folder, port_, user, password));
        WriteFileBytes(folder + "/tinyproxy.log", "");
        process_ = ChildProcess({kProxyBinary, "-d", "-c", folder + "/tinyproxy.conf"},
                                folder + "/output.log");
        if (WaitUntilAccepting(port_, process_)) return;
        process_.Stop(SIGTERM);
        const std::string log =
            ReadFileBytes(folder + "/tinyproxy.log") + ReadFileBytes(folder + "/output.log");
        const bool portTaken = log.find("Address already in use") != std::string::npos ||
                               log.find("Could not create listening") != std::string::npos;
        if (!portTaken || attempt == kStartAttempts) {
            throw std::runtime_error("tinyproxy did not start:\n" + log);
        }
    }
}

AuthProxy::~AuthProxy() {
    process_.Stop(SIGTERM);
}

std::string AuthProxy::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace testing_support

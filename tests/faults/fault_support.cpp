#include "fault_support.h"

#include <linux/capability.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "session/http_version_override.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fault_testing {
namespace {

// Every session of the suite writes the user's HTTP/1.1 settings; they are kept in the build
// tree, never in the real user's store. Set before any test runs.
struct SuiteEnvironment {
    SuiteEnvironment() {
        setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/fault_tests_settings", 0);
    }
};
const SuiteEnvironment g_suiteEnvironment;

}  // namespace

std::string TextPart(const std::string& name, const std::string& value) {
    return std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string FilePart(const std::string& name, const std::string& fileName,
                     const std::string* content) {
    std::string part = std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" +
                       name + "\"; filename=\"" + fileName + "\"\r\n\r\n";
    if (content != nullptr) part += *content + "\r\n";
    return part;
}

std::string ClosingDelimiter() {
    return std::string(kDelimiter) + "--\r\n";
}

std::string PatternText(std::size_t size, unsigned seed) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('!' + (i * 7 + seed) % 90);
    }
    return text;
}

ScriptedServer::Script Answer(std::string response) {
    return [response](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send(response);
    };
}

ScriptedServer::Script JudgeUpload(std::string expectedBody) {
    return [expectedBody](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.empty()) return;
        const std::string body = testing_support::ParseRequest(request).body;
        connection.Send(HttpResponse(200, body == expectedBody ? "OK" : "INCOMPLETE"));
    };
}

namespace {

// The TCP sockets of the machine by inode: local and remote port, and whether it listens.
struct TcpSocket {
    unsigned localPort = 0;
    unsigned remotePort = 0;
    bool listening = false;
};

std::map<unsigned long, TcpSocket> TcpSockets() {
    std::map<unsigned long, TcpSocket> sockets;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the column names
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
            unsigned long inode = 0;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            TcpSocket socket;
            socket.localPort = std::stoul(local.substr(local.find(':') + 1), nullptr, 16);
            socket.remotePort = std::stoul(remote.substr(remote.find(':') + 1), nullptr, 16);
            socket.listening = state == "0A";
            sockets[inode] = socket;
        }
    }
    return sockets;
}

// The inodes of the machine's local (AF_UNIX) sockets, socket pairs included.
std::set<unsigned long> LocalSockets() {
    std::set<unsigned long> inodes;
    std::ifstream in("/proc/self/net/unix");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string num, refs, protocol, flags, type, state;
        unsigned long inode = 0;
        fields >> num >> refs >> protocol >> flags >> type >> state >> inode;
        inodes.insert(inode);
    }
    return inodes;
}

}  // namespace

std::size_t OpenDescriptors() {
    std::vector<unsigned long> ours;
    std::size_t open = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        unsigned long inode = 0;
        if (std::sscanf(target.c_str(), "socket:[%lu]", &inode) == 1) {
            ours.push_back(inode);
        } else if (!error) {
            ++open;
        }
    }
    // Read after the descriptors: a socket missing from the tables was closed meanwhile.
    const auto tcp = TcpSockets();
    const auto local = LocalSockets();
    std::set<unsigned> listenPorts;
    for (unsigned long inode : ours) {
        auto found = tcp.find(inode);
        if (found != tcp.end() && found->second.listening) {
            listenPorts.insert(found->second.localPort);
        }
    }
    // A server's side of a connection closes on the server's own time; the client side is the
    // library's and must be gone when a call returns.
    for (unsigned long inode : ours) {
        auto found = tcp.find(inode);
        if (found == tcp.end()) {
            open += local.count(inode);
        } else if (!found->second.listening && listenPorts.count(found->second.remotePort)) {
            ++open;
        }
    }
    return open;
}

std::int32_t LiveSessions() {
    return zemuser::HttpVersionOverride::Instance().Count();
}

bool NoLeaksSoFar() {
#if defined(__SANITIZE_ADDRESS__)
    return __lsan_do_recoverable_leak_check() == 0;
#else
    return true;
#endif
}

std::string ChildEnd::Describe() const {
    if (timedOut) return "the child was still running at its time limit";
    if (exited) return "the child exited with " + std::to_string(code);
    return "the child was ended by signal " + std::to_string(signal);
}

ChildEnd RunInChild(const std::function<int()>& body, std::chrono::seconds limit) {
    ChildEnd end;
    const pid_t child = fork();
    if (child < 0) return end;
    if (child == 0) _exit(body());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            end.timedOut = true;
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFEXITED(status)) {
        end.exited = !end.timedOut;
        end.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    }
    return end;
}

bool DropFileOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        data[capability / 32].effective &= ~(1u << (capability % 32));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

long MillisSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

}  // namespace fault_testing

// Real servers the tests start and stop on loopback (nginx, the reference file service), the
// child processes that run them and other programs, and the files, folders and environment.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/pattern_text.h"

namespace testing_support {

class ChildProcess {
  public:
    ChildProcess() = default;  // runs nothing
    // Starts `argv[0]` on `input`; stdout, and stderr unless `errFile` is given, go to `logFile`.
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                 const std::string& errFile = "", const std::string& input = "/dev/null");
    ~ChildProcess() { Stop(SIGKILL); }
    ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
    ChildProcess& operator=(ChildProcess&& other) noexcept {  // swaps
        std::swap(pid_, other.pid_);
        std::swap(exitCode_, other.exitCode_);
        return *this;
    }

    bool Running();  // false once it has exited (and then reaped)
    // Sends `signal` (if not 0), then kills it after `grace`: its exit status, or -1 if killed.
    int Stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(5));

  private:
    int pid_ = -1;
    int exitCode_ = -1;
};

struct ProgramResult {
    int exitCode = -1;  // -1 when it did not exit by itself
    std::string out, err;
};
// Runs `argv[0]` to its end with stdin from `input`; one still running after a minute is killed.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& input = "/dev/null");

struct ChildEnd {
    bool exited = false;  // ran to its end: `code` is its exit status
    int code = -1;
    int signal = 0;  // the signal that ended it, if any
    bool timedOut = false;
    bool Succeeded() const { return exited && code == 0; }
    std::string Describe() const;
};

// Runs `body` in a forked child (our servers keep answering it; no framework assertions there)
// whose exit status is its result, while this process runs `whileRunning`; killed after `limit`.
ChildEnd RunInChild(const std::function<int()>& body,
                    const std::function<void()>& whileRunning = nullptr,
                    std::chrono::seconds limit = std::chrono::seconds(60));

class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh temporary folder, removed with its content at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    int owner_;  // a forked child that exits leaves its parent's folders alone
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::uint16_t FreeLoopbackPort();

// Certificates for the HTTPS cases, made once per test process in a temporary folder.
struct TestCertificates {
    std::string caFile;  // the test CA; trust it with SSL_CERT_FILE
    // Where "<name>.pem" and "<name>.key" are: "good", "other", "expired", "selfsigned".
    std::string folder;
    static const TestCertificates& Get();
};

enum class CertificateKind { Good, OtherName, Expired, SelfSigned };

class NginxServer {
  public:
    // `extraLocations` is pasted into every server block (e.g. "location /x { return 200; }").
    explicit NginxServer(const std::string& extraLocations = "");
    ~NginxServer() { process_.Stop(SIGTERM); }

    std::uint16_t httpsPort(CertificateKind kind) const {
        return ports_[1 + static_cast<int>(kind)];
    }
    std::uint16_t clientCertPort() const { return ports_[5]; }
    // Writes a file under the document root and returns its URL path ("/name").
    std::string AddFile(const std::string& name, const std::string& content);
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(ports_[0]) + path;
    }

  private:
    std::string Config(const std::string& extraLocations) const;

    TempDir folder_;
    ChildProcess process_;
    std::uint16_t ports_[6] = {};  // plain, one per CertificateKind, client certificate
};

// The reference file service on a free port, listening once made; `prepareRoot` fills its root.
struct FileService {
    explicit FileService(const std::string& program, const std::vector<std::string>& options = {},
                         const std::function<void(const std::string&)>& prepareRoot = {});
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/files"; }

    TempDir root, log;
    const std::uint16_t port = FreeLoopbackPort();
    ChildProcess process;
};

// tinyproxy on a free port, demanding Basic authentication: a real proxy's answers.
class AuthProxy {
  public:
    AuthProxy(const std::string& user, const std::string& password);
    ~AuthProxy() { process_.Stop(SIGTERM); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    TempDir folder_;
    ChildProcess process_;
    std::uint16_t port_ = 0;
};

class ScriptedConnection;
// A proxy answering 200 `body` to the Proxy-Authorization `credentials`, else 407 "who?".
std::function<void(ScriptedConnection&)> ProxyDemanding(const std::string& credentials,
                                                        const std::string& body);

}  // namespace testing_support

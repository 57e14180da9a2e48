// Real servers the tests start and stop on loopback (nginx for static files and HTTPS, a proxy
// with Basic authentication) and the files, folders and environment they share.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "support/child_process.h"

namespace testing_support {

// Sets an environment variable for the life of the object, restoring the old value after.
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
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Printable bytes that show misplaced or lost ones, different for every seed (no zero bytes:
// the text exports stop there).
std::string PatternText(std::size_t size, unsigned seed = 0);
std::uint16_t FreeLoopbackPort();

// Certificates for the HTTPS cases, made once per test process in a temporary folder.
struct TestCertificates {
    std::string caFile;  // the test CA; trust it with SSL_CERT_FILE
    // Where "<name>.pem" and "<name>.key" are, issued by the test CA for 127.0.0.1 and localhost
    // ("good"), for another host name ("other"), expired ("expired"), or self-signed
    // ("selfsigned").
    std::string folder;
    static const TestCertificates& Get();
};

enum class CertificateKind { Good, OtherName, Expired, SelfSigned };

// nginx with its prefix, configuration and logs in a temporary folder.
class NginxServer {
  public:
    // `extraLocations` is pasted into every server block (e.g. "location /x { return 200; }").
    explicit NginxServer(const std::string& extraLocations = "");
    ~NginxServer() { process_.Stop(SIGTERM); }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // HTTPS port serving the certificate of the given kind.
    std::uint16_t httpsPort(CertificateKind kind) const {
        return ports_[1 + static_cast<int>(kind)];
    }
    // HTTPS port that demands a client certificate.
    std::uint16_t clientCertPort() const { return ports_[5]; }
    // Writes a file under the document root and returns its URL path ("/name").
    std::string AddFile(const std::string& name, const std::string& content);
    std::string url(const std::string& path) const;  // http://127.0.0.1:<port><path>

  private:
    std::string Config(const std::string& extraLocations) const;

    TempDir folder_;
    ChildProcess process_;
    std::uint16_t ports_[6] = {};  // plain, one per CertificateKind, client certificate
};

// A forward proxy that demands Basic authentication (tinyproxy), with CONNECT allowed to the
// loopback ports the tests use.
class AuthProxy {
  public:
    AuthProxy(const std::string& user, const std::string& password);
    ~AuthProxy() { process_.Stop(SIGTERM); }
    AuthProxy(const AuthProxy&) = delete;
    AuthProxy& operator=(const AuthProxy&) = delete;
    std::uint16_t port() const { return port_; }
    std::string url() const;  // http://127.0.0.1:<port>

  private:
    TempDir folder_;
    ChildProcess process_;
    std::uint16_t port_ = 0;
};

}  // namespace testing_support

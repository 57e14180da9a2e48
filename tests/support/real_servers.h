// Real servers the tests start and stop themselves on loopback: nginx (static files, HTTPS with
// certificates made by the openssl command) and a proxy with Basic authentication.
#pragma once

#include <cstdint>
#include <string>

#include "support/child_process.h"

namespace testing_support {

// Sets an environment variable for the life of the object, restoring the old value after.
class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_, old_;
    bool hadOld_;
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
long ResidentMemoryKb();

// Certificates for the HTTPS cases, made once per test process in a temporary folder.
struct TestCertificates {
    std::string folder;
    std::string caFile;                         // the test CA; trust it with SSL_CERT_FILE
    std::string goodCert, goodKey;              // issued by the test CA for 127.0.0.1 / localhost
    std::string otherNameCert, otherNameKey;    // issued by the test CA for another host name
    std::string expiredCert, expiredKey;        // issued by the test CA, expired
    std::string selfSignedCert, selfSignedKey;  // self-signed for 127.0.0.1 / localhost
    static const TestCertificates& Get();
};

enum class CertificateKind { Good, OtherName, Expired, SelfSigned };

// nginx with its own prefix, configuration and pid file in a temporary folder; stopped by pid.
class NginxServer {
  public:
    // `extraLocations` is pasted into every server block (e.g. "location /x { return 200; }").
    explicit NginxServer(const std::string& extraLocations = "");
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t httpPort() const { return httpPort_; }
    // HTTPS port serving the certificate of the given kind.
    std::uint16_t httpsPort(CertificateKind kind) const;
    // HTTPS port that demands a client certificate.
    std::uint16_t clientCertPort() const { return clientCertPort_; }
    const std::string& docroot() const { return docroot_; }
    // Writes a file under the document root and returns its URL path ("/name").
    std::string AddFile(const std::string& name, const std::string& content);
    std::string url(const std::string& path) const;  // http://127.0.0.1:<port><path>

  private:
    void WriteConfig(const std::string& extraLocations) const;
    // One start attempt; false when a port was taken meanwhile, throws on other failures.
    bool TryStart();

    TempDir folder_;
    std::string docroot_;
    ChildProcess process_;
    std::uint16_t httpPort_ = 0, goodPort_ = 0, otherNamePort_ = 0, expiredPort_ = 0,
                  selfSignedPort_ = 0, clientCertPort_ = 0;
};

// A forward proxy that demands Basic authentication (tinyproxy), with CONNECT allowed to the
// loopback ports the tests use.
class AuthProxy {
  public:
    AuthProxy(const std::string& user, const std::string& password);
    ~AuthProxy();
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

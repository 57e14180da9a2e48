// nginx as the tests' real web server: its own prefix, configuration, logs and temp paths in a
// temporary folder, run in the foreground as our child so stopping it never depends on a pid
// file or leaves a daemon behind.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>

#include "support/real_servers.h"

namespace testing_support {
namespace {

constexpr const char* kNginxBinary = "/usr/sbin/nginx";
constexpr int kStartAttempts = 5;

// Everything nginx writes stays in our folder.
const char* const kConfigTemplate = R"(daemon off;
master_process on;
worker_processes 1;
pid @FOLDER@/nginx.pid;
error_log @FOLDER@/error.log info;
@USER@
events { worker_connections 256; }
http {
    access_log @FOLDER@/access.log;
    client_body_temp_path @FOLDER@/temp/body;
    proxy_temp_path @FOLDER@/temp/proxy;
    fastcgi_temp_path @FOLDER@/temp/fastcgi;
    uwsgi_temp_path @FOLDER@/temp/uwsgi;
    scgi_temp_path @FOLDER@/temp/scgi;
    types { text/html html htm; text/plain txt; application/json json; }
    default_type application/octet-stream;
    client_max_body_size 0;
@SERVERS@}
)";

void Substitute(std::string& text, const std::string& marker, const std::string& value) {
    for (auto at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + value.size())) {
        text.replace(at, marker.size(), value);
    }
}

std::string HttpsServerBlock(std::uint16_t port, const std::string& cert, const std::string& key,
                             const std::string& common) {
    return "    server {\n        listen 127.0.0.1:" + std::to_string(port) +
           " ssl;\n        ssl_certificate " + cert + ";\n        ssl_certificate_key " + key +
           ";\n" + common + "    }\n";
}

}  // namespace

NginxServer::NginxServer(const std::string& extraLocations) {
    docroot_ = folder_.File("docroot");
    std::filesystem::create_directories(docroot_);
    std::filesystem::create_directories(folder_.File("temp"));
    for (int attempt = 1;; ++attempt) {
        // A port freed by one probe can come back from the next; the six must differ, or
        // nginx would merge two servers on one port.
        std::set<std::uint16_t> chosen;
        auto distinctPort = [&chosen] {
            for (;;) {
                const std::uint16_t port = FreeLoopbackPort();
                if (chosen.insert(port).second) return port;
            }
        };
        httpPort_ = distinctPort();
        goodPort_ = distinctPort();
        otherNamePort_ = distinctPort();
        expiredPort_ = distinctPort();
        selfSignedPort_ = distinctPort();
        clientCertPort_ = distinctPort();
        WriteConfig(extraLocations);
        if (TryStart()) return;
        // Another process took one of the free ports between the probe and nginx's bind.
        if (attempt == kStartAttempts) throw std::runtime_error("nginx found no free ports");
    }
}

NginxServer::~NginxServer() {
    process_.Stop(SIGTERM);
}

std::uint16_t NginxServer::httpsPort(CertificateKind kind) const {
    switch (kind) {
        case CertificateKind::Good:
            return goodPort_;
        case CertificateKind::OtherName:
            return otherNamePort_;
        case CertificateKind::Expired:
            return expiredPort_;
        case CertificateKind::SelfSigned:
            return selfSignedPort_;
    }
    return 0;
}

std::string NginxServer::AddFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = std::filesystem::path(docroot_) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path.string(), content);
    return "/" + name;
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}

void NginxServer::WriteConfig(const std::string& extraLocations) const {
    const TestCertificates& certificates = TestCertificates::Get();
    // The library sends downloads as POST; nginx refuses POST to a static file with 405, so
    // that answer is turned into the file itself.
    const std::string common = "        root " + docroot_ +
                               ";\n        error_page 405 =200 $uri;\n" + extraLocations + "\n";
    std::string http = "    server {\n        listen 127.0.0.1:" + std::to_string(httpPort_) +
                       ";\n" + common + "    }\n";
    http += HttpsServerBlock(goodPort_, certificates.goodCert, certificates.goodKey, common);
    http += HttpsServerBlock(otherNamePort_, certificates.otherNameCert, certificates.otherNameKey,
                             common);
    http +=
        HttpsServerBlock(expiredPort_, certificates.expiredCert, certificates.expiredKey, common);
    http += HttpsServerBlock(selfSignedPort_, certificates.selfSignedCert,
                             certificates.selfSignedKey, common);
    http += HttpsServerBlock(clientCertPort_, certificates.goodCert, certificates.goodKey,
                             "        ssl_verify_client on;\n        ssl_client_certificate " +
                                 certificates.caFile + ";\n" + common);

    std::string config = kConfigTemplate;
    // As root the workers would otherwise run as nobody and could not read our private folder.
    Substitute(config, "@USER@", geteuid() == 0 ? "user root;" : "");
    Substitute(config, "@FOLDER@", folder_.path());
    Substitute(config, "@SERVERS@", http);
    WriteFileBytes(folder_.File("nginx.conf"), config);
}

bool NginxServer::TryStart() {
    const std::string folder = folder_.path();
    const std::string errorLog = folder + "/error.log";
    WriteFileBytes(errorLog, "");
    process_ =
        ChildProcess({kNginxBinary, "-p", folder, "-e", errorLog, "-c", folder + "/nginx.conf"},
                     folder + "/output.log");
    for (std::uint16_t port :
         {httpPort_, goodPort_, otherNamePort_, expiredPort_, selfSignedPort_, clientCertPort_}) {
        if (WaitUntilAccepting(port, process_)) continue;
        process_.Stop(SIGTERM);
        const std::string log = ReadFileBytes(errorLog) + ReadFileBytes(folder + "/output.log");
        if (log.find("Address already in use") != std::string::npos) return false;
        throw std::runtime_error("nginx did not start:\n" + log);
    }
    return true;
}

}  // namespace testing_support

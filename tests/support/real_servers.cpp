// The tests' temporary files and folders, their certificates (made with the openssl command
// once per test process) and their real servers: nginx and tinyproxy, each run in the foreground
// as our child with its configuration, logs and temporary files in its own folder, so stopping
// it never depends on a pid file or leaves a daemon behind.
#include "support/real_servers.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>

namespace testing_support {

namespace {

// Our own sections only, so the system's defaults never add or clash with extensions.
const char* const kOpensslConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[test_ca]
database = ./index.txt
new_certs_dir = .
serial = ./serial
default_md = sha256
policy = any_name
[any_name]
commonName = supplied
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth,clientAuth
subjectKeyIdentifier = hash
subjectAltName = $ENV::SAN
)";

const char* const kScript = R"(set -e
export OPENSSL_CONF=./openssl.cnf SAN=IP:127.0.0.1,DNS:localhost
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
csr() { key "$1"; openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"; }
sign() { openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
    -extfile openssl.cnf -extensions leaf -out "$1.pem"; }
: > index.txt
echo 1000 > serial
key ca
openssl req -x509 -new -key ca.key -subj "/CN=Zemuser Test CA" -days 3650 -extensions ca_ext \
    -out ca.pem
csr good 127.0.0.1 && sign good
key selfsigned
openssl req -x509 -new -key selfsigned.key -subj "/CN=127.0.0.1" -days 3650 -extensions leaf \
    -out selfsigned.pem
# Only the ca command takes explicit dates, and a validity wholly in the past is what we need.
csr expired 127.0.0.1
openssl ca -batch -notext -name test_ca -cert ca.pem -keyfile ca.key -in expired.csr \
    -startdate 20200101000000Z -enddate 20200201000000Z -extensions leaf -out expired.pem
SAN=DNS:other.example.test
csr other other.example.test && sign other
)";

TestCertificates Make(const std::string& folder) {
    WriteFileBytes(folder + "/openssl.cnf", kOpensslConfig);
    WriteFileBytes(folder + "/make.sh", kScript);
    const std::string command = "cd '" + folder + "' && /bin/sh ./make.sh > make.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("making test certificates failed:\n" +
                                 ReadFileBytes(folder + "/make.log"));
    }
    return {folder + "/ca.pem", folder};
}

// Another process may take a free port between our probe and the server's bind, so each attempt
// has `prepare` pick fresh ports, write the configuration and give the command and its ports.
void StartOnFreePorts(
    ChildProcess& process, const std::string& folder,
    const std::function<std::vector<std::string>(std::set<std::uint16_t>&)>& prepare) {
    const std::string output = folder + "/output.log";
    for (int attempt = 1;; ++attempt) {
        std::set<std::uint16_t> ports;
        const std::vector<std::string> argv = prepare(ports);
        WriteFileBytes(output, "");
        process = ChildProcess(argv, output);
        bool up = true;
        for (std::uint16_t port : ports) up = up && WaitUntilAccepting(port, process);
        if (up) return;
        process.Stop(SIGTERM);
        const std::string log = ReadFileBytes(output);
        const bool portTaken = log.find("Address already in use") != std::string::npos ||
                               log.find("Could not create listening") != std::string::npos;
        if (!portTaken || attempt == 5) {
            throw std::runtime_error(argv[0] + " did not start:\n" + log);
        }
    }
}

// A server block on `port`, over TLS with the test certificate `certificate` unless it is null.
std::string ServerBlock(std::uint16_t port, const char* certificate, const std::string& common) {
    std::string block = "server {\nlisten 127.0.0.1:" + std::to_string(port);
    if (certificate != nullptr) {
        const std::string base = TestCertificates::Get().folder + "/" + certificate;
        block += " ssl;\nssl_certificate " + base + ".pem;\nssl_certificate_key " + base + ".key";
    }
    return block + ";\n" + common + "}\n";
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zemuser-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::string PatternText(std::size_t size, unsigned seed) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('!' + (i * 7 + seed * 13 + i / 91) % 90);
    }
    return text;
}

const TestCertificates& TestCertificates::Get() {
    // The folder lives until the process ends; static initialisation makes it once, thread-safe.
    static const TempDir folder;
    static const TestCertificates certificates = Make(folder.path());
    return certificates;
}

NginxServer::NginxServer(const std::string& extraLocations) {
    std::filesystem::create_directories(folder_.File("docroot"));
    std::filesystem::create_directories(folder_.File("temp"));
    StartOnFreePorts(process_, folder_.path(), [&](std::set<std::uint16_t>& chosen) {
        // Probes can return a port again; the six must differ, or nginx would merge servers.
        for (auto& port : ports_) {
            while (!chosen.insert(port = FreeLoopbackPort()).second) {
            }
        }
        WriteFileBytes(folder_.File("nginx.conf"), Config(extraLocations));
        return std::vector<std::string>{
            "/usr/sbin/nginx",         "-p", folder_.path(), "-e", "stderr", "-c",
            folder_.File("nginx.conf")};
    });
}

std::string NginxServer::AddFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = std::filesystem::path(folder_.File("docroot")) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path.string(), content);
    return "/" + name;
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(ports_[0]) + path;
}

std::string NginxServer::Config(const std::string& extraLocations) const {
    const TestCertificates& c = TestCertificates::Get();
    const std::string folder = folder_.path();
    // The library sends downloads as POST, which nginx refuses for a static file with 405: that
    // answer becomes the file itself.
    const std::string common =
        "root " + folder + "/docroot;\nerror_page 405 =200 $uri;\n" + extraLocations + "\n";
    std::string config = "daemon off;\nworker_processes 1;\npid " + folder + "/nginx.pid;\n";
    // As root the workers would otherwise run as nobody and could not read our private folder.
    if (geteuid() == 0) config += "user root;\n";
    config += "error_log stderr info;\nevents { worker_connections 256; }\nhttp {\n";
    config += "access_log off;\ndefault_type application/octet-stream;\nclient_max_body_size 0;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        config += std::string(temp) + "_temp_path " + folder + "/temp/" + temp + ";\n";
    }
    config += "types { text/html html htm; text/plain txt; application/json json; }\n";
    config += ServerBlock(ports_[0], nullptr, common);
    // One port per CertificateKind, then the one that demands a client certificate.
    int next = 1;
    for (const char* name : {"good", "other", "expired", "selfsigned"}) {
        config += ServerBlock(ports_[next++], name, common);
    }
    config +=
        ServerBlock(ports_[5], "good",
                    "ssl_verify_client on;\nssl_client_certificate " + c.caFile + ";\n" + common);
    return config + "}\n";
}

AuthProxy::AuthProxy(const std::string& user, const std::string& password) {
    const std::string folder = folder_.path();
    StartOnFreePorts(process_, folder, [&](std::set<std::uint16_t>& ports) {
        ports = {port_ = FreeLoopbackPort()};
        // No ConnectPort line: CONNECT may reach every port, as the HTTPS ports are chosen at
        // run time. No User line: the proxy keeps our identity and can write into our folder.
        WriteFileBytes(folder + "/tinyproxy.conf",
                       "Port " + std::to_string(port_) +
                           "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 64\n"
                           "PidFile \"" +
                           folder + "/tinyproxy.pid\"\nBasicAuth " + user + " " + password + "\n");
        return std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c",
                                        folder + "/tinyproxy.conf"};
    });
}

std::string AuthProxy::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace testing_support

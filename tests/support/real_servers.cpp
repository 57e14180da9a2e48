// nginx runs in the foreground as our child, with its configuration, logs and temporary files in
// its own folder, so stopping it never depends on a pid file or leaves a daemon behind.
#include "support/real_servers.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/portable_helpers.h"
#include "support/scripted_server.h"

namespace testing_support {
namespace {

// Our own sections only, so the system's defaults never add or clash with extensions.
const char* const kOpensslConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
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
cd "$1"
export OPENSSL_CONF=./openssl.cnf SAN=IP:127.0.0.1,DNS:localhost
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
csr() { key "$1"; openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"; }
sign() { openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days "$2" \
    -extfile openssl.cnf -extensions leaf -out "$1.pem"; }
key ca
openssl req -x509 -new -key ca.key -subj "/CN=Zemuser Test CA" -days 3650 -extensions ca_ext \
    -out ca.pem
csr good 127.0.0.1 && sign good 3650
key selfsigned
openssl req -x509 -new -key selfsigned.key -subj "/CN=127.0.0.1" -days 3650 -extensions leaf \
    -out selfsigned.pem
csr expired 127.0.0.1 && sign expired -1  # it ends a day before it begins
SAN=DNS:other.example.test
csr other other.example.test && sign other 3650
)";

TestCertificates Make(const std::string& folder) {
    WriteFileBytes(folder + "/openssl.cnf", kOpensslConfig);
    const ProgramResult made = RunProgram({"/bin/sh", "-c", kScript, "sh", folder});
    if (made.exitCode != 0) {
        throw std::runtime_error("making test certificates failed:\n" + made.out + made.err);
    }
    return {folder + "/ca.pem", folder};
}

// Over TLS unless `certificate` is null.
std::string ServerBlock(std::uint16_t port, const char* certificate, const std::string& common) {
    std::string block = "server {\nlisten 127.0.0.1:" + std::to_string(port);
    if (certificate != nullptr) {
        const std::string base = TestCertificates::Get().folder + "/" + certificate;
        block += " ssl;\nssl_certificate " + base + ".pem;\nssl_certificate_key " + base + ".key";
    }
    return block + ";\n" + common + "}\n";
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                           const std::string& errFile, const std::string& input) {
    // Everything the child needs is prepared before fork: after it, only exec-safe calls.
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    const int log = open(logFile.c_str(), flags, 0644);
    const int err = errFile.empty() ? log : open(errFile.c_str(), flags, 0644);
    const int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();
    if (log >= 0 && err >= 0 && in >= 0) pid_ = fork();
    if (pid_ == 0) {
        // A test process that dies without running destructors takes its servers with it (the
        // signal follows the forking thread, so servers belong to long-lived threads).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        // Stop and Ctrl-C must reach the program even when the test runner ignores them.
        for (int signal : {SIGINT, SIGTERM, SIGPIPE}) ::signal(signal, SIG_DFL);
        const sigset_t none{};
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(in, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close_range(3, ~0U, 0);  // our sockets must not keep connections open in the program
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    for (int fd : {log, in, err == log ? -1 : err}) {
        if (fd >= 0) close(fd);
    }
    if (pid_ < 0) throw std::runtime_error("cannot start " + argv[0] + " logging to " + logFile);
}

bool ChildProcess::Running() {
    int status = 0;
    const pid_t reaped = pid_ > 0 ? waitpid(pid_, &status, WNOHANG) : 0;
    if (reaped != 0) {  // exited, or not ours
        exitCode_ = reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
    }
    return pid_ > 0;
}

int ChildProcess::Stop(int signal, std::chrono::milliseconds grace) {
    if (!Running()) return exitCode_;
    if (signal != 0) kill(pid_, signal);
    if (!PollUntil([this] { return !Running(); }, grace, std::chrono::milliseconds(10))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = exitCode_ = -1;
    }
    return exitCode_;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input) {
    const TempDir folder;
    ChildProcess program(argv, folder.File("out"), folder.File("err"), input);
    const int exitCode = program.Stop(0, std::chrono::minutes(1));
    return {exitCode, ReadFileBytes(folder.File("out")), ReadFileBytes(folder.File("err"))};
}

std::string ChildEnd::Describe() const {
    if (timedOut) return "the child was still running at its time limit";
    if (exited) return "the child exited with " + std::to_string(code);
    return "the child was ended by signal " + std::to_string(signal);
}

ChildEnd RunInChild(const std::function<int()>& body, const std::function<void()>& whileRunning,
                    std::chrono::seconds limit) {
    ChildEnd end;
    const pid_t child = fork();
    if (child < 0) return end;
    if (child == 0) _exit(body());
    if (whileRunning) whileRunning();
    int status = 0;
    end.timedOut = !PollUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, limit,
                              std::chrono::milliseconds(20));
    if (end.timedOut) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    end.exited = WIFEXITED(status) && !end.timedOut;
    if (WIFEXITED(status)) end.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

TempDir::TempDir() : owner_(getpid()) {
    path_ = (std::filesystem::temp_directory_path() / "zemuser-test-XXXXXX").string();
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (getpid() == owner_) std::filesystem::remove_all(path_, ignored);
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

const TestCertificates& TestCertificates::Get() {
    // The folder lives until the process ends; static initialisation makes it once, thread-safe.
    static const TempDir folder;
    static const TestCertificates certificates = Make(folder.path());
    return certificates;
}

NginxServer::NginxServer(const std::string& extraLocations) {
    std::filesystem::create_directories(folder_.File("docroot"));
    std::filesystem::create_directories(folder_.File("temp"));
    const std::string output = folder_.File("output.log");
    // Another process may take a free port between our probe and nginx's bind: try again.
    for (int attempt = 1;; ++attempt) {
        std::set<std::uint16_t> chosen;  // probes can return a port again; nginx would merge
        for (auto& port : ports_) {
            while (!chosen.insert(port = FreeLoopbackPort()).second) {
            }
        }
        WriteFileBytes(folder_.File("nginx.conf"), Config(extraLocations));
        WriteFileBytes(output, "");
        process_ = ChildProcess({"/usr/sbin/nginx", "-p", folder_.path(), "-e", "stderr", "-c",
                                 folder_.File("nginx.conf")},
                                output);
        bool up = true;
        for (std::uint16_t port : chosen) up = up && WaitUntilAccepting(port, process_);
        if (up) return;
        process_.Stop(SIGTERM);
        const std::string log = ReadFileBytes(output);
        if (log.find("Address already in use") == std::string::npos || attempt == 5) {
            throw std::runtime_error("nginx did not start:\n" + log);
        }
    }
}

std::string NginxServer::AddFile(const std::string& name, const std::string& content) {
    const std::filesystem::path path = std::filesystem::path(folder_.File("docroot")) / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path.string(), content);
    return "/" + name;
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

FileService::FileService(const std::string& program, const std::vector<std::string>& options,
                         const std::function<void(const std::string&)>& prepareRoot) {
    if (prepareRoot) prepareRoot(root.path());
    std::vector<std::string> argv{program, "--root", root.path(), "--port", std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    process = ChildProcess(argv, log.File("log"));
    if (!WaitUntilAccepting(port, process)) throw std::runtime_error("no file service");
}

AuthProxy::AuthProxy(const std::string& user, const std::string& password) {
    const std::string config = folder_.File("tinyproxy.conf");
    // Another process may take the free port before the proxy binds it: try again.
    for (int attempt = 0; attempt < 5 && !process_.Running(); ++attempt) {
        port_ = FreeLoopbackPort();
        // No User line: the proxy keeps our identity and can write into our folder.
        WriteFileBytes(config, "Port " + std::to_string(port_) +
                                   "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nPidFile \"" +
                                   folder_.File("pid") + "\"\nBasicAuth " + user + " " + password +
                                   "\n");
        process_ = ChildProcess({"/usr/bin/tinyproxy", "-d", "-c", config}, folder_.File("log"));
        if (!WaitUntilAccepting(port_, process_)) process_.Stop(SIGTERM);
    }
    if (!process_.Running()) throw std::runtime_error("tinyproxy did not start");
}

std::function<void(ScriptedConnection&)> ProxyDemanding(const std::string& credentials,
                                                        const std::string& body) {
    return [=](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.empty()) return;
        connection.Send(ParseRequest(request).Header("Proxy-Authorization") == credentials
                            ? HttpResponse(200, body)
                            : HttpResponse(407, "who?", {"Proxy-Authenticate: Basic realm=\"p\""}));
    };
}

}  // namespace testing_support

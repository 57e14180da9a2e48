// zemuser-file-service: a conference server's file service on one folder, for trying out and
// testing the library on the local machine.
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>

#include "file_service.h"
#include "listen_address.h"
#include "service_options.h"
#include "signal_waiter.h"
#include "staged_file.h"

namespace {

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

int Run(int argc, char** argv) {
    // Before any other thread, so that only the waiter sees SIGINT and SIGTERM.
    std::atomic<bool> stopRequested{false};
    httplib::Server server;
    SignalWaiter signals([&](int) { stopRequested = true; },
                         [&] {
                             // Repeated until it lands: a stop before listening has begun
                             // would otherwise be lost.
                             if (stopRequested) server.stop();
                         });

    ServiceOptions options;
    if (auto status = ParseOptions(argc, argv, options)) return *status;

    const std::filesystem::path root = std::filesystem::absolute(options.root);
    if (std::size_t removed = RemoveLeftoverStagedFiles(root)) {
        std::cerr << "zemuser-file-service: removed " << removed
                  << " unfinished upload(s) left by an earlier run" << std::endl;
    }
    if (options.token.empty() && !IsLoopbackOnly(options.host)) {
        std::cerr << "zemuser-file-service: warning: listening on " << options.host
                  << " without a token: anyone who can reach the port can read and replace "
                     "every session's files (see --token-file)"
                  << std::endl;
    }
    FileService service(root, options.limits, AccessToken(options.token));
    service.Register(server);
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        std::fprintf(stderr, "%s %s %s %d\n", request.remote_addr.c_str(), request.method.c_str(),
                     request.path.c_str(), response.status);
    });

    const std::string& host = options.host;
    const int port = options.port;
    int boundPort = port == 0 ? server.bind_to_any_port(host) : port;
    if (port != 0 && !server.bind_to_port(host, port)) boundPort = -1;
    if (boundPort < 0) {
        std::cerr << "zemuser-file-service: cannot listen on " << host << ":" << port << std::endl;
        return 1;
    }
    std::cout << "listening on http://" << UrlHost(host) << ":" << boundPort << std::endl;
    bool listened = server.listen_after_bind();
    if (!stopRequested && !listened) {
        std::cerr << "zemuser-file-service: the server stopped unexpectedly" << std::endl;
        return 1;
    }
    std::cout << "stopped" << std::endl;
    return 0;
}

int main(int argc, char** argv) {
    // Nothing is expected to escape Run; should it, the program says so and fails plainly.
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zemuser-file-service: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "zemuser-file-service: unexpected failure\n");
    }
    return 1;
}

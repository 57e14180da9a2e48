// zemuser-file-service: a conference server's file service on one folder, for trying out and
// testing the library on the local machine.
#include <httplib.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <thread>

#include "file_service.h"
#include "signal_waiter.h"

namespace {

const char kFooter[] =
    "Requests (POST to any path; the form fields decide):\n"
    "  download  x=kivStuff act=download session_id=S filename=N  -> the file's bytes\n"
    "  upload    x=kivStuff act=upload session_id=S file_num=1 file1=<file part>\n"
    "            -> stored as DIR/S/<base name of the part's filename>, answer \"OK\"\n"
    "  fetch     act=fetch session_id=S filename=N  -> the file's bytes, with\n"
    "            Content-Disposition: attachment; filename=\"N\"\n"
    "A missing file is answered 404, anything else that is wrong 400 \"ERROR ...\".\n"
    "Stops on SIGINT or SIGTERM once the requests in progress are done.\n"
    "\n"
    "Examples:\n"
    "  zemuser-file-service --root /srv/conference-files --port 8080\n"
    "  zemuser-file-service --root \"$(mktemp -d)\" --port 0";

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

    CLI::App app("Serves a conference server's file service from one folder, over plain HTTP.",
                 "zemuser-file-service");
    std::string root;
    int port = 8080;
    std::string host = "127.0.0.1";
    app.add_option("--root", root, "Folder that holds one subfolder per session")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    app.add_option("--port", port, "Port to listen on; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str()
        ->type_name("N");
    app.add_option("--host", host, "Address to listen on")->capture_default_str();
    app.footer(kFooter);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }

    FileService service(std::filesystem::absolute(root));
    service.Register(server);
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        std::fprintf(stderr, "%s %s %s %d\n", request.remote_addr.c_str(), request.method.c_str(),
                     request.path.c_str(), response.status);
    });

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

#include "service_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <stdexcept>

#include "access_token.h"

namespace {

const char kFooter[] =
    "Requests (POST to any path; the form fields decide):\n"
    "  download  x=kivStuff act=download session_id=S filename=N  -> the file's bytes\n"
    "  upload    x=kivStuff act=upload session_id=S file_num=1 file1=<file part>\n"
    "            -> stored as DIR/S/<base name of the part's filename>, answer \"OK\"\n"
    "  fetch     act=fetch session_id=S filename=N  -> the file's bytes, with\n"
    "            Content-Disposition: attachment; filename=\"N\"\n"
    "A missing file is answered 404, anything else that is wrong 400 \"ERROR ...\", a request\n"
    "past a limit 413 (507 when no session or byte is left), and a request without the token,\n"
    "when one is set, 403. A refused request stores nothing.\n"
    "With a token, clients add ?token=TOKEN to the service's URL (the library sends it that\n"
    "way) or send \"Authorization: Bearer TOKEN\". Without one, anyone who can reach the port\n"
    "can read and replace every session's files: keep it on loopback, where it listens by\n"
    "default.\n"
    "A SIZE is a number of bytes, or one with KiB, MiB or GiB.\n"
    "Uploads killed halfway are removed when the service starts again.\n"
    "Stops on SIGINT or SIGTERM once the requests in progress are done.\n"
    "\n"
    "Examples:\n"
    "  zemuser-file-service --root /srv/conference-files --port 8080\n"
    "  zemuser-file-service --root \"$(mktemp -d)\" --port 0\n"
    "  zemuser-file-service --root /srv/conference-files --host 0.0.0.0 \\\n"
    "      --token-file /etc/conference-files.token --max-upload 200MiB";

CLI::Option* AddSize(CLI::App& app, const std::string& name, std::uint64_t& bytes,
                     const std::string& description, const std::string& defaultText) {
    return app.add_option(name, bytes, description)
        ->transform(CLI::AsSizeValue(false).description(""))
        ->default_str(defaultText)
        ->type_name("SIZE");
}

}  // namespace

std::optional<int> ParseOptions(int argc, char** argv, ServiceOptions& options) {
    CLI::App app("Serves a conference server's file service from one folder, over plain HTTP.",
                 "zemuser-file-service");
    ServiceLimits& limits = options.limits;
    std::string tokenFile;
    std::uint64_t fieldBytes = limits.fieldBytes;
    app.add_option("--root", options.root, "Folder that holds one subfolder per session")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    app.add_option("--port", options.port, "Port to listen on; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str()
        ->type_name("N");
    app.add_option("--host", options.host, "Address to listen on")->capture_default_str();
    auto* token = app.add_option("--token", options.token,
                                 "Secret every request must present (letters, digits, - . _ ~)");
    app.add_option("--token-file", tokenFile,
                   "File whose first line is the token, kept off the command line")
        ->check(CLI::ExistingFile)
        ->type_name("PATH")
        ->excludes(token);
    auto* request =
        AddSize(app, "--max-request", limits.requestBytes,
                "Largest request body, refused before it is read", "--max-upload + 1MiB");
    app.add_option("--max-parts", limits.formParts, "Most fields in one form")
        ->capture_default_str()
        ->type_name("N");
    AddSize(app, "--max-field", fieldBytes, "Longest field name, and longest text field value",
            "8KiB");
    AddSize(app, "--max-upload", limits.uploadBytes, "Largest uploaded file", "1GiB");
    app.add_option("--max-sessions", limits.sessions, "Most session folders in DIR")
        ->capture_default_str()
        ->type_name("N");
    AddSize(app, "--max-disk", limits.diskBytes, "Most bytes all stored files may take", "8GiB");
    app.footer(kFooter);
    try {
        app.parse(argc, argv);
        if (!tokenFile.empty()) options.token = ReadTokenFile(tokenFile);
        if (token->count() > 0 || !tokenFile.empty()) {
            const std::string problem = TokenProblem(options.token);
            if (!problem.empty()) throw CLI::ValidationError("--token", problem);
        }
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : 2;
    } catch (const std::runtime_error& error) {
        return app.exit(CLI::ValidationError("--token-file", error.what())) == 0 ? 0 : 2;
    }
    limits.fieldBytes = static_cast<std::size_t>(fieldBytes);
    if (request->count() == 0) {
        limits.requestBytes = std::max(limits.uploadBytes, limits.uploadBytes + kMebibyte);
    }
    return std::nullopt;
}

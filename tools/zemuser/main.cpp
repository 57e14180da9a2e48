// zemuser: the library's transfers from the command line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cancel_state.h"
#include "command.h"
#include "common_options.h"
#include "exit_codes.h"
#include "library_reports.h"
#include "proxy_password.h"
#include "signal_waiter.h"

namespace {

const char kFooter[] =
    "Exit status:\n"
    "  0    done\n"
    "  1    the transfer failed (no answer, refused, not accepted)\n"
    "  2    usage error\n"
    "  3    answered with an HTTP status other than 2xx (get, post)\n"
    "  130  cancelled with Ctrl-C\n"
    "\n"
    "A failure names the URL and the library's reason, or else what failed; a usage error\n"
    "names what was wrong:\n"
    "  zemuser: http://127.0.0.1:1/x: No connection to the server could be made (12029)\n"
    "  zemuser: http://nohost.invalid/: The host name could not be turned into an address (12007)\n"
    "  zemuser: download from http://127.0.0.1:8080/f failed (run again with --trace FILE for "
    "details)\n"
    "  URL: expected http://HOST[:PORT][/PATH] or https://HOST[:PORT][/PATH], got 'notaurl'\n"
    "  FILE: File does not exist: slides.pdf\n"
    "A server that demands a client certificate answers HTTP 400 (get, post: exit status 3).\n"
    "\n"
    "On a terminal, a transfer that takes more than a second shows a progress line on\n"
    "standard error; --quiet turns it off.\n"
    "\n"
    "Environment:\n"
    "  http_proxy, https_proxy, all_proxy, no_proxy   the proxy to go through, if any;\n"
    "  --proxy-user and --proxy-password answer its request for authentication.\n"
    "  ZEMUSER_PROXY_PASSWORD   the proxy password when --proxy-password is not given.\n"
    "  Other users can see a password given on the command line; this variable, or\n"
    "  --proxy-password - (a line of standard input, not echoed on a terminal), keeps it\n"
    "  out of their sight.\n"
    "  ZEMUSER_DEBUG_OUTPUT     a file that also receives the library's failure reports\n"
    "                           ('-' for standard error), passed on after each transfer.\n"
    "\n"
    "Examples:\n"
    "  zemuser get http://127.0.0.1:8080/index.html\n"
    "  zemuser post http://127.0.0.1:8080/form name=Ada --trace trace.txt\n"
    "  zemuser download http://127.0.0.1:8080/files . act=fetch session_id=42 filename=a.pdf\n"
    "  zemuser conf put http://127.0.0.1:8080/files 42 slides.pdf\n"
    "  zemuser cpu --watch\n"
    "\n"
    "Run 'zemuser COMMAND --help' for the arguments of a command.";

// What every command's help shows beyond its own: the shared options live on the top level.
void FinishCommandHelp(CLI::App& command) {
    for (CLI::Option* option : command.get_options()) {
        if (option->get_positional()) option->type_name("");
    }
    if (command.get_subcommands({}).empty()) {
        command.footer(
            command.get_footer() +
            "\n\nEvery command also takes --trace FILE, --trace-level N, --proxy-user NAME,"
            "\n--proxy-password PASSWORD|- and --quiet; see 'zemuser --help'.");
    }
    for (CLI::App* subcommand : command.get_subcommands({})) FinishCommandHelp(*subcommand);
}

// The parser reports a word that names no command as a missing command; this names the word
// and the commands it could have been instead, or returns nothing for any other usage error.
std::optional<CLI::ParseError> UnknownCommand(CLI::App& app, const CLI::ParseError& error) {
    CLI::App* given = &app;  // the innermost command given, which may want one of its own
    while (!given->get_subcommands().empty()) given = given->get_subcommands().front();
    const std::vector<CLI::App*> expected = given->get_subcommands({});
    const std::vector<std::string> words = app.remaining(true);  // options are no commands
    const auto word = std::find_if(words.begin(), words.end(),
                                   [](const std::string& each) { return each.rfind('-', 0) != 0; });
    if (error.get_name() != "RequiredError" || expected.empty() || word == words.end()) return {};
    std::string names;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == expected.size() ? " or " : ", ") + expected[i]->get_name();
    }
    return CLI::ParseError("COMMAND: expected " + names + ", got '" + *word + "'",
                           CLI::ExitCodes::ExtrasError);
}

}  // namespace

int Run(int argc, char** argv) {
    // First of all: it changes the environment, which the library and other threads read.
    LibraryReports reports;
    CancelState cancel;
    // Before any other thread: Ctrl-C is then handled on the waiter's thread only.
    SignalWaiter signals([&cancel](int) { cancel.OnSignal(); }, [&cancel] { cancel.OnIdle(); });

    CLI::App app("Blocking HTTP and HTTPS transfers through the zemuser library.", "zemuser");
    app.set_version_flag("--version", "zemuser " ZEMUSER_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // the common options may also follow the command
    app.footer(kFooter);
    CommonOptions options;
    AddCommonOptions(app, options);

    std::vector<Command> commands{AddGetCommand(app),      AddPostCommand(app),
                                  AddDownloadCommand(app), AddUploadCommand(app),
                                  AddConfCommand(app),     AddCpuCommand(app)};
    for (Command& command : commands) FinishCommandHelp(*command.parser);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const std::optional<CLI::ParseError> unknown = UnknownCommand(app, error);
        const int status = app.exit(unknown ? *unknown : error);
        return status == 0 ? kExitOk : kExitUsage;
    }

    if (std::optional<int> status = ResolveProxyPassword(options, cancel)) return *status;
    ApplyTraceOptions(options);
    CommandContext context{options, cancel, reports, std::nullopt};
    for (Command& command : commands) {
        if (command.parser->parsed()) return command.run(context);
    }
    return kExitUsage;
}

int main(int argc, char** argv) {
    // Nothing is expected to escape Run; should it, the program says so and fails plainly.
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zemuser: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "zemuser: unexpected failure\n");
    }
    return 1;
}

// zemuser conf get|put: files of a conference server's file service, by session identifier.
#include <filesystem>
#include <memory>

#include "exit_codes.h"
#include "messages.h"
#include "run_transfer.h"
#include "url_argument.h"

namespace {

struct ConfArguments {
    std::string url;
    std::string session;
    std::string name;  // the file's name on the server (get only)
    std::string path;  // local file: written by get, sent by put
};

constexpr std::int32_t kDownload = 0;
constexpr std::int32_t kUpload = 1;

int RunConfTransfer(CommandContext& context, const ConfArguments& arguments,
                    std::int32_t direction) {
    std::int32_t result = 0;
    std::error_code error;
    ProgressSource progress =
        direction == kDownload
            ? ProgressSource::Receiving(arguments.path)
            : ProgressSource::Sending(std::filesystem::file_size(arguments.path, error));
    if (error) progress = ProgressSource();
    std::optional<int> early = RunTransfer(context, progress, [&](TransferHandle handle) {
        result = ZEMKIVTransferFile(handle, arguments.url.c_str(), arguments.session.c_str(),
                                    arguments.name.c_str(), arguments.path.c_str(), direction);
    });
    if (early) return *early;
    if (context.cancel.Cancelled()) return ReportCancelled();
    if (result != 1) {
        const char* what = direction == kDownload ? "fetching " : "sending ";
        return ReportTransferFailed(
            context, arguments.url,
            what + (direction == kDownload ? arguments.name : arguments.path) + " failed");
    }
    return kExitOk;
}

}  // namespace

Command AddConfCommand(CLI::App& app) {
    CLI::App* parser =
        app.add_subcommand("conf", "Fetch or send a file of a conference server's file service");
    parser->require_subcommand(1);
    parser->footer(
        "The service is addressed by one URL and knows the conference by its session\n"
        "identifier.\n"
        "\n"
        "Examples:\n"
        "  zemuser conf put http://127.0.0.1:8080/files 42 slides.pdf\n"
        "  zemuser conf get http://127.0.0.1:8080/files 42 slides.pdf copy.pdf");

    auto get = std::make_shared<ConfArguments>();
    CLI::App* getParser =
        parser->add_subcommand("get", "Fetch a file of a session into a local file");
    getParser->add_option("URL", get->url, "Address of the file service")
        ->required()
        ->check(kUrlArgument);
    getParser->add_option("SESSION", get->session, "Session identifier")->required();
    getParser->add_option("NAME", get->name, "Name of the file on the server")->required();
    getParser->add_option("PATH", get->path, "Local file to write")->required();
    getParser->footer(
        "Whatever non-empty body the service answers is stored, even an error page.\n"
        "\n"
        "Example:\n"
        "  zemuser conf get http://127.0.0.1:8080/files 42 slides.pdf copy.pdf");

    auto put = std::make_shared<ConfArguments>();
    CLI::App* putParser = parser->add_subcommand("put", "Send a local file to a session");
    putParser->add_option("URL", put->url, "Address of the file service")
        ->required()
        ->check(kUrlArgument);
    putParser->add_option("SESSION", put->session, "Session identifier")->required();
    putParser->add_option("FILE", put->path, "Local file to send; the server keeps its name")
        ->required()
        ->check(CLI::ExistingFile.description(""));
    putParser->footer(
        "The upload counts as done when the service's reply begins with \"OK\".\n"
        "\n"
        "Example:\n"
        "  zemuser conf put http://127.0.0.1:8080/files 42 slides.pdf");

    auto run = [getParser, get, put](CommandContext& context) {
        if (getParser->parsed()) return RunConfTransfer(context, *get, kDownload);
        return RunConfTransfer(context, *put, kUpload);
    };
    return {parser, run};
}

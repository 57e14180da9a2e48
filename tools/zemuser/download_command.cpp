// zemuser download: posts form fields and stores the answer in a file, named by the server
// when the target is a folder.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "exit_codes.h"
#include "form_fields.h"
#include "messages.h"
#include "run_transfer.h"
#include "url_argument.h"

namespace {

struct DownloadArguments {
    std::string url;
    std::string path;
    std::vector<std::string> fields;
};

// Room for the announced name; one byte more stays zero, so the name always ends.
constexpr std::int32_t kNameRoom = 1024;

}  // namespace

Command AddDownloadCommand(CLI::App& app) {
    CLI::App* parser =
        app.add_subcommand("download", "Download a URL's answer into a file or folder");
    auto arguments = std::make_shared<DownloadArguments>();
    parser->add_option("URL", arguments->url, "http:// or https:// address to download from")
        ->required()
        ->check(kUrlArgument);
    parser->add_option("PATH", arguments->path, "File to write, or folder to put the file in")
        ->required();
    parser
        ->add_option("FIELD", arguments->fields,
                     "Form field as name=value, posted with the request (repeatable)")
        ->check(kFieldArgument);
    parser->footer(
        "The request is a multipart/form-data POST of the fields; only a 200 answer is\n"
        "stored. Into a folder, the file takes the name of the answer's Content-Disposition\n"
        "header (\"unknown\" when it has none). Prints the announced name and where the\n"
        "file went. On a terminal, a progress line shows the bytes received.\n"
        "\n"
        "Examples:\n"
        "  zemuser download http://127.0.0.1:8080/files report.pdf act=fetch id=7\n"
        "  zemuser download http://127.0.0.1:8080/files ~/Downloads act=fetch id=7");

    auto run = [arguments](CommandContext& context) {
        namespace fs = std::filesystem;
        PostFields fields = ParseFieldArguments(arguments->fields);
        std::error_code error;
        bool intoFolder = fs::is_directory(arguments->path, error);
        char name[kNameRoom + 1] = {};
        std::int32_t result = 0;
        ProgressSource progress = ProgressSource::Receiving(arguments->path, intoFolder);
        std::optional<int> early = RunTransfer(context, progress, [&](TransferHandle handle) {
            result = ZEMNormalDownloadFile(handle, arguments->url.c_str(), &fields,
                                           arguments->path.c_str(), name, kNameRoom);
        });
        if (early) return *early;
        if (context.cancel.Cancelled()) return ReportCancelled();
        if (result != 1) {
            return ReportTransferFailed(context, arguments->url,
                                        "download from " + arguments->url + " failed");
        }
        std::string announced = name;
        fs::path savedTo = arguments->path;
        if (intoFolder) savedTo /= announced.empty() ? "unknown" : announced;
        std::cout << "announced name: " << (announced.empty() ? "(none)" : announced) << '\n'
                  << "saved to: " << savedTo.string() << std::endl;
        return static_cast<int>(kExitOk);
    };
    return {parser, run};
}

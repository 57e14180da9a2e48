// zemuser upload: sends a local file as a multipart form, accepted when the reply says "OK".
#include <filesystem>
#include <memory>
#include <vector>

#include "exit_codes.h"
#include "form_fields.h"
#include "messages.h"
#include "run_transfer.h"
#include "url_argument.h"

namespace {

struct UploadArguments {
    std::string url;
    std::string file;
    std::vector<std::string> fields;
};

}  // namespace

Command AddUploadCommand(CLI::App& app) {
    CLI::App* parser = app.add_subcommand("upload", "Upload a local file to a URL");
    auto arguments = std::make_shared<UploadArguments>();
    parser->add_option("URL", arguments->url, "http:// or https:// address to upload to")
        ->required()
        ->check(kUrlArgument);
    parser->add_option("FILE", arguments->file, "Local file to send")
        ->required()
        ->check(CLI::ExistingFile.description(""));
    parser
        ->add_option("FIELD", arguments->fields,
                     "Form field as name=value, sent before the file (repeatable)")
        ->check(kFieldArgument);
    parser->footer(
        "The request is a multipart/form-data POST: the fields, then \"file_num\" = 1 and\n"
        "the file as \"file1\". The upload counts as done when the reply begins with \"OK\".\n"
        "\n"
        "Examples:\n"
        "  zemuser upload http://127.0.0.1:8080/files notes.txt folder=inbox\n"
        "  zemuser upload http://127.0.0.1:8080/files big.iso --trace upload.log");

    auto run = [arguments](CommandContext& context) {
        PostFields fields = ParseFieldArguments(arguments->fields);
        std::int32_t result = 0;
        std::error_code error;
        std::uintmax_t fileSize = std::filesystem::file_size(arguments->file, error);
        ProgressSource progress =
            ProgressSource::Sending(FieldsSize(fields) + (error ? 0 : fileSize));
        std::optional<int> early = RunTransfer(context, progress, [&](TransferHandle handle) {
            result = ZEMUrlTransferFile(handle, arguments->url.c_str(), &fields,
                                        arguments->file.c_str(), 1);
        });
        if (early) return *early;
        if (context.cancel.Cancelled()) return ReportCancelled();
        if (result != 1) {
            return ReportTransferFailed(context, arguments->url,
                                        "upload to " + arguments->url + " was not accepted");
        }
        return static_cast<int>(kExitOk);
    };
    return {parser, run};
}

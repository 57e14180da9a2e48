// zemuser get: fetches a URL into memory and prints the body.
#include <memory>

#include "exit_codes.h"
#include "reply_output.h"
#include "run_transfer.h"
#include "url_argument.h"

namespace {

struct GetArguments {
    std::string url;
    std::string output;
};

}  // namespace

Command AddGetCommand(CLI::App& app) {
    CLI::App* parser = app.add_subcommand("get", "Fetch a URL and print its body");
    auto arguments = std::make_shared<GetArguments>();
    parser->add_option("URL", arguments->url, "http:// or https:// address to fetch")
        ->required()
        ->check(kUrlArgument);
    parser
        ->add_option("-o,--output", arguments->output,
                     "Write the body to FILE instead of standard output")
        ->type_name("FILE");
    parser->footer(
        "The HTTP status goes to standard error as \"HTTP <status>\". A status other than 2xx\n"
        "ends with exit status 3; its body is still written.\n"
        "\n"
        "Examples:\n"
        "  zemuser get http://127.0.0.1:8080/status\n"
        "  zemuser get -o page.html http://127.0.0.1:8080/ --trace trace.txt");

    auto run = [arguments](CommandContext& context) {
        ReplyOutcome reply{-1, 0, nullptr, 0};
        std::optional<int> early =
            RunTransfer(context, ProgressSource(), [&](TransferHandle handle) {
                char* buffer = nullptr;
                reply.result = ZEMUrlGet3(arguments->url.c_str(), &reply.status, &buffer,
                                          &reply.length, handle);
                reply.body.reset(buffer);
            });
        if (early) return *early;
        return FinishReply(reply, arguments->url, arguments->output, context);
    };
    return {parser, run};
}

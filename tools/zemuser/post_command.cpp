// zemuser post: posts form fields and prints the reply.
#include <memory>
#include <vector>

#include "exit_codes.h"
#include "form_fields.h"
#include "reply_output.h"
#include "run_transfer.h"
#include "url_argument.h"

namespace {

struct PostArguments {
    std::string url;
    std::vector<std::string> fields;
    std::string output;
};

}  // namespace

Command AddPostCommand(CLI::App& app) {
    CLI::App* parser = app.add_subcommand("post", "Post form fields to a URL and print the reply");
    auto arguments = std::make_shared<PostArguments>();
    parser->add_option("URL", arguments->url, "http:// or https:// address to post to")
        ->required()
        ->check(kUrlArgument);
    parser->add_option("FIELD", arguments->fields, "Form field as name=value (repeatable)")
        ->check(kFieldArgument);
    parser
        ->add_option("-o,--output", arguments->output,
                     "Write the reply to FILE instead of standard output")
        ->type_name("FILE");
    parser->footer(
        "The fields go out as multipart/form-data, in ascending order of name. The HTTP\n"
        "status goes to standard error; a status other than 2xx ends with exit status 3.\n"
        "\n"
        "Examples:\n"
        "  zemuser post http://127.0.0.1:8080/form name=Ada topic=engines\n"
        "  zemuser post http://127.0.0.1:8080/form 'comment=two words' -o reply.txt");

    auto run = [arguments](CommandContext& context) {
        PostFields fields = ParseFieldArguments(arguments->fields);
        ReplyOutcome reply{-1, 0, nullptr, 0};
        std::optional<int> early = RunTransfer(
            context, ProgressSource::Sending(FieldsSize(fields)), [&](TransferHandle handle) {
                char* buffer = nullptr;
                reply.result = ZEMUrlPost3(arguments->url.c_str(), &fields, &reply.status, &buffer,
                                           &reply.length, handle);
                reply.body.reset(buffer);
            });
        if (early) return *early;
        return FinishReply(reply, arguments->url, arguments->output, context);
    };
    return {parser, run};
}

#include "reply_output.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "exit_codes.h"
#include "messages.h"
#include "run_transfer.h"

namespace {

bool WriteBody(const char* data, std::size_t length, const std::string& outputFile) {
    if (outputFile.empty() || outputFile == "-") {
        std::cout.write(data, static_cast<std::streamsize>(length));
        std::cout.flush();
        return static_cast<bool>(std::cout);
    }
    std::ofstream file(outputFile, std::ios::binary | std::ios::trunc);
    file.write(data, static_cast<std::streamsize>(length));
    file.close();
    return static_cast<bool>(file);
}

}  // namespace

int FinishReply(const ReplyOutcome& reply, const std::string& url, const std::string& outputFile,
                const CommandContext& context) {
    if (context.cancel.Cancelled()) return ReportCancelled();
    if (reply.result < 0) return ReportTransferFailed(context, url, "no answer from " + url);

    std::cerr << "HTTP " << reply.status << std::endl;
    const char* data = reply.body ? reply.body.get() : "";
    std::size_t length = reply.length > 0 ? static_cast<std::size_t>(reply.length) : 0;
    if (!WriteBody(data, length, outputFile)) {
        PrintError("cannot write " +
                   (outputFile.empty() ? std::string("standard output") : outputFile) + ": " +
                   std::strerror(errno));
        return kExitTransferFailed;
    }
    bool success = reply.status >= 200 && reply.status < 300;
    return success ? kExitOk : kExitHttpStatus;
}

#include "api/upload_reply.h"

#include <cstdio>
#include <cstring>

namespace zemuser {

std::string ReadUploadReply(TransferSession& session) {
    char reply[1025] = {};
    std::uint32_t count = session.ReadResponse(reply, 1024);
    reply[count] = '\0';
    return std::string(reply);
}

std::string TraceableReply(const std::string& reply) {
    std::string shown;
    for (char c : reply) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

bool IsUploadAccepted(const std::string& reply) {
    return reply.compare(0, 2, "OK") == 0 || reply.compare(0, 4, "\r\nOK") == 0;
}

}  // namespace zemuser

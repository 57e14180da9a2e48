#include "api/upload_reply.h"

#include <cstring>

namespace zemuser {

std::string ReadUploadReply(TransferSession& session) {
    char reply[1025] = {};
    std::uint32_t count = session.ReadResponse(reply, 1024);
    reply[count] = '\0';
    return std::string(reply);
}

bool IsUploadAccepted(const std::string& reply) {
    return reply.compare(0, 2, "OK") == 0 || reply.compare(0, 4, "\r\nOK") == 0;
}

}  // namespace zemuser

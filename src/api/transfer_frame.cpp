#include "api/transfer_frame.h"

#include <string>

#include "session/url_split.h"

namespace zemuser {

FrameOutcome RunTransferFrame(TransferSession& session, const char* url, RequestKind kind,
                              const FieldAdder& addFields) {
    std::uint32_t service = 0;
    std::string host;
    std::string path;
    std::uint16_t port = 0;
    if (!SplitUrl(url, &service, &host, &path, &port)) return FrameOutcome::NotSplit;

    ConnectMode mode;
    if (service == ServiceHttp) {
        mode = ConnectMode::ModeHttp;
    } else if (service == ServiceHttps) {
        mode = ConnectMode::ModeHttps;
    } else {
        return FrameOutcome::NotSplit;
    }

    if (!session.Connect(host.c_str(), port, nullptr, nullptr, mode, kTransferAgent)) {
        return FrameOutcome::ConnectFailed;
    }
    if (addFields) addFields(session);
    if (!session.SendRequest(path.c_str(), kind, nullptr)) return FrameOutcome::SendFailed;
    return FrameOutcome::Sent;
}

}  // namespace zemuser

#include "api/local_path.h"

namespace zemuser {

LocalPath LocalPath::Narrow(const char* path) {
    LocalPath local;
    local.narrow_ = path != nullptr ? path : "";
    local.trace_ = local.narrow_;
    return local;
}

LocalPath LocalPath::Wide(const platform::WideChar* path) {
    LocalPath local;
    local.wide_ = true;
    if (path != nullptr) local.wideText_ = path;
    local.trace_ = platform::Utf8FromWide(local.wideText_.c_str());
    return local;
}

bool LocalPath::IsFolder() const {
    return wide_ ? platform::IsFolder(wideText_.c_str()) : platform::IsFolder(narrow_.c_str());
}

LocalPath LocalPath::Join(const std::string& name) const {
    LocalPath joined = *this;
    if (wide_) {
        // The announced name is narrow text in the platform's narrow code page.
        joined.wideText_ += platform::WidePathSeparator();
        joined.wideText_ += platform::WideFromNarrow(name.c_str());
        joined.trace_ = platform::Utf8FromWide(joined.wideText_.c_str());
    } else {
        joined.narrow_ += platform::PathSeparator();
        joined.narrow_ += name;
        joined.trace_ = joined.narrow_;
    }
    return joined;
}

std::uint32_t LocalPath::StoreResponse(TransferSession& session) const {
    return wide_ ? session.ResponseToFile(wideText_.c_str())
                 : session.ResponseToFile(narrow_.c_str());
}

void LocalPath::AddAsFileField(TransferSession& session, const char* fieldName) const {
    if (wide_) {
        session.AddFormField(fieldName, wideText_.c_str(), true);
    } else {
        session.AddFormField(fieldName, narrow_.c_str(), true);
    }
}

}  // namespace zemuser

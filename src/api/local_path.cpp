#include "api/local_path.h"

#include "session/wide_text.h"

LocalPath LocalPath::Narrow(const char* path) {
    LocalPath local;
    local.narrow_ = path != nullptr ? path : "";
    local.trace_ = local.narrow_;
    return local;
}

LocalPath LocalPath::Wide(const WCHAR* path) {
    LocalPath local;
    local.wide_ = true;
    if (path != nullptr) local.wideText_ = path;
    local.trace_ = NarrowFromWide(local.wideText_.c_str());
    return local;
}

bool LocalPath::IsFolder() const {
    DWORD attributes =
        wide_ ? GetFileAttributesW(wideText_.c_str()) : GetFileAttributesA(narrow_.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

LocalPath LocalPath::Join(const std::string& name) const {
    LocalPath joined = *this;
    if (wide_) {
        // The announced name is narrow text in the platform's narrow code page.
        joined.wideText_ += platform::WidePathSeparator();
        joined.wideText_ += WideFromNarrow(name.c_str());
        joined.trace_ = NarrowFromWide(joined.wideText_.c_str());
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

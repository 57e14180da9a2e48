#include "api/download_file_name.h"

namespace zemuser {

namespace {

constexpr const char kWhiteSpace[] = " \t\n\r\v\f";
// 2056 bytes offered to the query; the last of 2057 always stays zero.
constexpr std::uint32_t kHeaderOffered = 2056;

std::string Trim(const std::string& text, const char* characters) {
    std::string::size_type first = text.find_first_not_of(characters);
    if (first == std::string::npos) return {};
    std::string::size_type last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string ParseDispositionFileName(const std::string& disposition) {
    std::string::size_type semicolon = disposition.find(';');
    if (semicolon == std::string::npos) return {};
    std::string::size_type equals = disposition.find('=', semicolon);
    if (equals == std::string::npos) return {};
    return Trim(Trim(disposition.substr(equals + 1), kWhiteSpace), "\"");
}

std::string CleanAnnouncedName(const std::string& name) {
    std::string::size_type separator = name.find_last_of("/\\");
    std::string base = separator == std::string::npos ? name : name.substr(separator + 1);
    std::string clean;
    clean.reserve(base.size());
    for (char c : base) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F && !platform::IsDroppedFileNameCharacter(c)) clean += c;
    }
    // A leading dot would hide the file (and ".profile" and the like have meaning to the
    // system): the name starts after its leading dots, and one of dots only is no name.
    clean.erase(0, clean.find_first_not_of('.'));
    if (clean.empty() || platform::IsUnusableFileName(clean)) return {};
    return clean;
}

std::string DownloadFileName(TransferSession& session) {
    char header[kHeaderOffered + 1] = {};
    session.QueryContentDisposition(header, kHeaderOffered);
    header[kHeaderOffered] = '\0';
    return CleanAnnouncedName(ParseDispositionFileName(header));
}

}  // namespace zemuser

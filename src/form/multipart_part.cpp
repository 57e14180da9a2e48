#include "form/multipart_part.h"

#include "form/byte_appender.h"

namespace form {
namespace {

constexpr std::string_view kDashes = "--";
constexpr std::string_view kDispositionName = "\r\nContent-Disposition: form-data; name=\"";
constexpr std::string_view kFileName = "\"; filename=\"";
constexpr std::string_view kHeaderEnd = "\"\r\n\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kClosingEnd = "--\r\n";

std::uint64_t TextHeaderLength(const FormField& field, std::string_view boundary) {
    return kDashes.size() + boundary.size() + kDispositionName.size() + field.name.size() +
           kHeaderEnd.size();
}

// The header both part kinds share up to the closing quote of the name.
bool AppendHeaderStart(ByteAppender& out, const FormField& field, std::string_view boundary) {
    return out.Append(kDashes) && out.Append(boundary) && out.Append(kDispositionName) &&
           out.Append(field.name);
}

}  // namespace

std::uint64_t TextPartLength(const FormField& field, std::string_view boundary) {
    return TextHeaderLength(field, boundary) + field.value.size() + kLineEnd.size();
}

std::uint64_t FileHeaderLength(const FormField& field, std::string_view boundary) {
    return TextHeaderLength(field, boundary) + kFileName.size() + field.value.size();
}

std::uint64_t FilePartLength(const FormField& field, std::string_view boundary,
                             const UploadFile& file) {
    const std::uint64_t header = FileHeaderLength(field, boundary);
    return file.IsOpen() ? header + file.Size() + kLineEnd.size() : header;
}

std::uint64_t ClosingDelimiterLength(std::string_view boundary) {
    return kDashes.size() + boundary.size() + kClosingEnd.size();
}

std::uint64_t WriteTextPart(const FormField& field, std::string_view boundary, char* destination,
                            std::uint64_t room) {
    if (destination == nullptr || TextPartLength(field, boundary) > room) return 0;
    ByteAppender out(destination, room);
    AppendHeaderStart(out, field, boundary);
    out.Append(kHeaderEnd);
    out.Append(field.value);
    out.Append(kLineEnd);
    return out.Written();
}

std::uint64_t WriteFilePart(const FormField& field, std::string_view boundary, UploadFile& file,
                            char* destination, std::uint64_t room) {
    if (destination == nullptr || FilePartLength(field, boundary, file) > room) return 0;
    ByteAppender out(destination, room);
    AppendHeaderStart(out, field, boundary);
    out.Append(kFileName);
    out.Append(field.value);
    out.Append(kHeaderEnd);
    if (!file.IsOpen()) return out.Written();
    // Room for Size() bytes and the CR LF was checked above; a grown file is cut at Size().
    out.Advance(file.ReadInto(out.Cursor(), file.Size()));
    out.Append(kLineEnd);
    return out.Written();
}

std::uint64_t WriteClosingDelimiter(std::string_view boundary, char* destination,
                                    std::uint64_t room) {
    if (destination == nullptr || ClosingDelimiterLength(boundary) > room) return 0;
    ByteAppender out(destination, room);
    out.Append(kDashes);
    out.Append(boundary);
    out.Append(kClosingEnd);
    return out.Written();
}

}  // namespace form

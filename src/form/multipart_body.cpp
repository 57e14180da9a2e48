#include "form/multipart_body.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace zemuser {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Large pieces keep a big upload from costing one system call per kilobyte.
constexpr std::uint32_t kReadPiece = 64 * 1024;

// One part as measured before the block is allocated.
struct Part {
    std::string header;
    platform::InputFile file;
    std::uint64_t contentLength = 0;
    bool hasLineEnd = true;  // a file that cannot be opened leaves the header alone
};

// A name or file name as a part header may hold it: a quote, CR or LF is written as the
// form-submission rules of HTML write them, so that nothing can end the header early.
std::string HeaderText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '"') {
            escaped += "%22";
        } else if (c == '\r') {
            escaped += "%0D";
        } else if (c == '\n') {
            escaped += "%0A";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string PartHeader(const FormField& field, std::string_view boundary) {
    std::string header = "--";
    header += boundary;
    header += "\r\nContent-Disposition: form-data; name=\"";
    header += HeaderText(field.name);
    if (field.isFile) {
        header += "\"; filename=\"";
        header += HeaderText(field.value);
    }
    header += "\"\r\n\r\n";
    return header;
}

Part MeasurePart(const FormField& field, std::string_view boundary) {
    Part part;
    part.header = PartHeader(field, boundary);
    if (!field.isFile) {
        part.contentLength = field.value.size();
        return part;
    }
    part.file = field.isWide ? platform::InputFile::Open(field.wideValue.c_str())
                             : platform::InputFile::Open(field.value.c_str());
    part.contentLength = part.file.Size();
    part.hasLineEnd = part.file.IsOpen();
    return part;
}

// Reads at most `limit` bytes into `destination`; stops early at the end of the file or at a
// failed read. Returns the bytes read.
std::uint64_t ReadInto(platform::InputFile& file, char* destination, std::uint64_t limit) {
    std::uint64_t taken = 0;
    while (taken < limit) {
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadPiece, limit - taken));
        std::uint32_t count = 0;
        if (!file.Read(destination + taken, piece, &count) || count == 0) break;
        taken += std::min(count, piece);
    }
    return taken;
}

class BodyWriter {
  public:
    explicit BodyWriter(char* start) : cursor_(start) {}
    void Append(std::string_view bytes) {
        std::memcpy(cursor_, bytes.data(), bytes.size());
        cursor_ += bytes.size();
    }
    // A part's content; false when it holds the delimiter of the body, which would end the
    // part early for the server (what follows would pass for parts of the sender's making).
    bool AppendContent(std::string_view bytes, std::string_view delimiter) {
        char* start = cursor_;
        Append(bytes);
        return Clean(start, delimiter);
    }
    bool AppendFile(platform::InputFile& file, std::uint64_t limit, std::string_view delimiter) {
        char* start = cursor_;
        cursor_ += ReadInto(file, cursor_, limit);
        return Clean(start, delimiter);
    }
    char* cursor() const { return cursor_; }

  private:
    bool Clean(const char* start, std::string_view delimiter) const {
        return std::search(start, static_cast<const char*>(cursor_),
                           std::boyer_moore_horspool_searcher(delimiter.begin(),
                                                              delimiter.end())) == cursor_;
    }

    char* cursor_;
};

}  // namespace

std::uint32_t BuildMultipartBody(const FormFieldList& fields, BodyBlock* body,
                                 const char* boundary) {
    if (body == nullptr || *body) return 0;
    const std::string_view separator = boundary != nullptr ? boundary : "";
    std::vector<Part> parts;
    parts.reserve(fields.size());
    std::uint64_t total = 0;
    for (const FormField& field : fields) {
        parts.push_back(MeasurePart(field, separator));
        const Part& part = parts.back();
        total += part.header.size() + part.contentLength + (part.hasLineEnd ? kLineEnd.size() : 0);
    }
    const std::string closing = "--" + std::string(separator) + "--\r\n";
    total += closing.size();
    if (total > std::numeric_limits<std::uint32_t>::max()) return 0;

    BodyBlock block = AllocateBody(static_cast<std::size_t>(total) + 1);
    if (!block) return 0;
    const std::string delimiter = "--" + std::string(separator);
    BodyWriter out(block.get());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Part& part = parts[i];
        out.Append(part.header);
        const bool clean = fields[i].isFile
                               ? out.AppendFile(part.file, part.contentLength, delimiter)
                               : out.AppendContent(fields[i].value, delimiter);
        if (!clean) return 0;
        if (part.hasLineEnd) out.Append(kLineEnd);
    }
    out.Append(closing);
    const auto length = static_cast<std::uint32_t>(out.cursor() - block.get());
    *body = std::move(block);
    return length;
}

}  // namespace zemuser

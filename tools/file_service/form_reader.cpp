#include "form_reader.h"

#include <cctype>
#include <system_error>

namespace {

// Text fields are a few identifiers and names; anything bigger is not a form of this service.
constexpr std::size_t kTextLimit = std::size_t{64} * 1024;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

void ReadMultipart(const httplib::ContentReader& reader, const std::filesystem::path& staging,
                   ReceivedForm& form) {
    std::string partName;
    std::string partText;
    bool inFile = false;
    std::size_t textBytes = 0;
    auto finishTextPart = [&] {
        if (!inFile && !partName.empty()) form.fields.emplace(partName, partText);
        partName.clear();
        partText.clear();
    };
    bool read = reader(
        [&](const httplib::MultipartFormData& part) {
            finishTextPart();
            partName = part.name;
            inFile = !part.filename.empty();
            if (!inFile) return true;
            if (form.file) {
                form.error = "ERROR only one file per upload";
                return false;
            }
            try {
                form.file = std::make_unique<StagedFile>(staging);
            } catch (const std::system_error&) {
                form.error = "ERROR cannot store the file";
                return false;
            }
            form.fileField = part.name;
            form.fileName = part.filename;
            return true;
        },
        [&](const char* data, std::size_t length) {
            if (inFile) {
                if (form.file->Write(data, length)) return true;
                form.error = "ERROR cannot store the file";
                return false;
            }
            textBytes += length;
            if (textBytes > kTextLimit) {
                form.error = "ERROR form too large";
                return false;
            }
            partText.append(data, length);
            return true;
        });
    finishTextPart();
    if (!read && form.error.empty()) form.error = "ERROR malformed multipart form";
}

void ReadUrlEncoded(const httplib::ContentReader& reader, ReceivedForm& form) {
    std::string body;
    bool read = reader([&](const char* data, std::size_t length) {
        if (body.size() + length > kTextLimit) {
            form.error = "ERROR form too large";
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (!read) {
        if (form.error.empty()) form.error = "ERROR incomplete form";
        return;
    }
    httplib::Params params;
    httplib::detail::parse_query_text(body, params);
    for (const auto& [name, value] : params) form.fields.emplace(name, value);
}

}  // namespace

ReceivedForm ReadForm(const httplib::Request& request, const httplib::ContentReader& reader,
                      const std::filesystem::path& stagingFolder) {
    ReceivedForm form;
    if (request.is_multipart_form_data()) {
        ReadMultipart(reader, stagingFolder, form);
    } else if (StartsWithNoCase(request.get_header_value("Content-Type"),
                                "application/x-www-form-urlencoded")) {
        ReadUrlEncoded(reader, form);
    } else {
        form.error = "ERROR expected a form (urlencoded or multipart)";
    }
    if (!form.error.empty()) form.file.reset();
    return form;
}

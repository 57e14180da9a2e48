#include "form_reader.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace {

constexpr int kBadRequest = 400;
constexpr int kTooLarge = 413;
constexpr int kInsufficientStorage = 507;

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

std::string FieldTooLong(const ServiceLimits& limits) {
    return "ERROR a form field is longer than " + std::to_string(limits.fieldBytes) + " bytes";
}

std::string TooManyParts(const ServiceLimits& limits) {
    return "ERROR a form has more than " + std::to_string(limits.formParts) + " fields";
}

// Gives the file part room and a staged file, or refuses the form.
void StartFile(const httplib::Request& request, const ServiceLimits& limits, StorageQuota& quota,
               ReceivedForm& form) {
    // The body's length bounds the file's; an upload can take no more than its limit.
    const auto bound =
        std::min(request.get_header_value<std::uint64_t>("Content-Length"), limits.uploadBytes);
    form.room = quota.Reserve(bound);
    if (!form.room) {
        return form.Refuse(kInsufficientStorage, "ERROR the service's disk space is used up");
    }
    try {
        form.file = std::make_unique<StagedFile>(quota.root());
    } catch (const std::system_error&) {
        form.Refuse(500, "ERROR cannot store the file");
    }
}

void ReadMultipart(const httplib::Request& request, const httplib::ContentReader& reader,
                   const ServiceLimits& limits, StorageQuota& quota, ReceivedForm& form) {
    std::string partName;
    std::string partText;
    bool inFile = false;
    std::size_t parts = 0;
    std::uint64_t fileBytes = 0;
    auto finishTextPart = [&] {
        if (form.error.empty() && !inFile && !partName.empty()) {
            form.fields.emplace(partName, partText);
        }
        partName.clear();
        partText.clear();
    };
    bool read = reader(
        [&](const httplib::MultipartFormData& part) {
            finishTextPart();
            inFile = !part.filename.empty();
            if (!form.error.empty()) return true;
            if (++parts > limits.formParts) {
                form.Refuse(kTooLarge, TooManyParts(limits));
            } else if (part.name.size() > limits.fieldBytes) {
                form.Refuse(kTooLarge, FieldTooLong(limits));
            } else if (inFile && form.file) {
                form.Refuse(kBadRequest, "ERROR only one file per upload");
            } else if (inFile) {
                form.fileField = part.name;
                form.fileName = part.filename;
                StartFile(request, limits, quota, form);
            }
            partName = part.name;
            return true;
        },
        [&](const char* data, std::size_t length) {
            if (!form.error.empty()) return true;
            if (inFile) {
                fileBytes += length;
                if (fileBytes > limits.uploadBytes) {
                    form.Refuse(kTooLarge, "ERROR the file is larger than " +
                                               std::to_string(limits.uploadBytes) + " bytes");
                } else if (!form.file->Write(data, length)) {
                    form.Refuse(500, "ERROR cannot store the file");
                }
                return true;
            }
            if (partText.size() + length > limits.fieldBytes) {
                form.Refuse(kTooLarge, FieldTooLong(limits));
                return true;
            }
            partText.append(data, length);
            return true;
        });
    finishTextPart();
    if (!read) form.Refuse(kBadRequest, "ERROR malformed multipart form");
}

void ReadUrlEncoded(const httplib::ContentReader& reader, const ServiceLimits& limits,
                    ReceivedForm& form) {
    // The longest body that can hold fields within the limits: each name and value with every
    // byte percent-encoded, and a "=" and a "&".
    const std::size_t encodedField = std::size_t{3} * limits.fieldBytes;
    const std::size_t longestForm = limits.formParts * (2 * encodedField + 2);
    std::string body;
    bool read = reader([&](const char* data, std::size_t length) {
        if (!form.error.empty()) return true;
        if (body.size() + length > longestForm) {
            form.Refuse(kTooLarge, TooManyParts(limits) + ", or one longer than " +
                                       std::to_string(limits.fieldBytes) + " bytes");
            body.clear();
            return true;
        }
        body.append(data, length);
        return true;
    });
    if (!read) return form.Refuse(kBadRequest, "ERROR incomplete form");
    if (!form.error.empty()) return;
    httplib::Params params;
    httplib::detail::parse_query_text(body, params);
    if (params.size() > limits.formParts) return form.Refuse(kTooLarge, TooManyParts(limits));
    for (const auto& [name, value] : params) {
        if (name.size() > limits.fieldBytes || value.size() > limits.fieldBytes) {
            return form.Refuse(kTooLarge, FieldTooLong(limits));
        }
        form.fields.emplace(name, value);
    }
}

}  // namespace

void ReceivedForm::Refuse(int refusalStatus, std::string why) {
    if (!error.empty()) return;  // the first reason is the one told
    status = refusalStatus;
    error = std::move(why);
    fields.clear();
    file.reset();
    room.reset();
}

ReceivedForm ReadForm(const httplib::Request& request, const httplib::ContentReader& reader,
                      const ServiceLimits& limits, StorageQuota& quota) {
    ReceivedForm form;
    if (request.is_multipart_form_data()) {
        ReadMultipart(request, reader, limits, quota, form);
    } else if (StartsWithNoCase(request.get_header_value("Content-Type"),
                                "application/x-www-form-urlencoded")) {
        ReadUrlEncoded(reader, limits, form);
    } else {
        form.Refuse(kBadRequest, "ERROR expected a form (urlencoded or multipart)");
        reader([](const char*, std::size_t) { return true; });
    }
    return form;
}

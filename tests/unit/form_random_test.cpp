// Random field lists against a plain reference encoder built from string concatenation.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "form/url_encoded_body.h"
#include "form_test_files.h"

namespace {

using form_test::kBoundary;

// What the reference needs to know of one field.
struct ExpectedField {
    std::string name;
    std::string value;
    bool isFile = false;
    bool exists = false;
    std::string contents;
};

std::string ReferenceUrlEncoded(const std::vector<ExpectedField>& fields) {
    std::string body;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) body += "&";
        body += fields[i].name + "=" + fields[i].value;
    }
    return body;
}

std::string ReferenceMultipart(const std::vector<ExpectedField>& fields) {
    const std::string boundary = kBoundary;
    std::string body;
    for (const ExpectedField& field : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field.name;
        if (!field.isFile) {
            body += "\"\r\n\r\n" + field.value + "\r\n";
        } else {
            body += "\"; filename=\"" + field.value + "\"\r\n\r\n";
            if (field.exists) body += field.contents + "\r\n";
        }
    }
    return body + "--" + boundary + "--\r\n";
}

std::uint32_t ReferenceEstimate(const std::vector<ExpectedField>& fields) {
    std::uint32_t estimate = 0;
    for (const ExpectedField& field : fields) {
        estimate += !field.isFile ? 8192 : 6144 + static_cast<std::uint32_t>(field.contents.size());
    }
    return estimate;
}

class RandomFields {
  public:
    explicit RandomFields(std::uint32_t seed) : random_(seed) {}

    std::size_t Below(std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
    }

    std::int32_t Integer() {
        return std::uniform_int_distribution<std::int32_t>(INT32_MIN, INT32_MAX)(random_);
    }

    // Any bytes but NUL (and, for file names, but '/').
    std::string Bytes(std::size_t length, bool forFileName = false) {
        std::string bytes;
        while (bytes.size() < length) {
            const char c = static_cast<char>(1 + Below(255));
            if (!forFileName || c != '/') bytes += c;
        }
        return bytes;
    }

    std::size_t TextLength() { return Below(10) == 0 ? Below(20000) : Below(300); }

  private:
    std::mt19937 random_;
};

TEST(FormRandomTest, EncodersMatchTheReference) {
    form_test::TempFolder folder;
    RandomFields random(20240611);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        FormFieldList fields;
        std::vector<ExpectedField> expected;
        const std::size_t count = random.Below(7);
        for (std::size_t i = 0; i < count; ++i) {
            ExpectedField field;
            field.name = random.Bytes(random.Below(40));
            switch (random.Below(5)) {
                case 0: {
                    const std::int32_t number = random.Integer();
                    field.value = std::to_string(number);
                    fields.Append(FormField::FromInteger(field.name.c_str(), number));
                    break;
                }
                case 1: {
                    field.value = random.Bytes(random.TextLength());
                    fields.Append(
                        FormField::FromText(field.name.c_str(), field.value.c_str(), false));
                    break;
                }
                default: {
                    field.isFile = true;
                    const std::string fileName = "r" + std::to_string(round) + "_" +
                                                 std::to_string(i) +
                                                 random.Bytes(random.Below(20), true);
                    field.value = folder.File(fileName);
                    field.exists = random.Below(8) != 0;
                    if (field.exists) {
                        field.contents = random.Bytes(random.Below(100 * 1024 + 1));
                        form_test::WriteFileBytes(field.value, field.contents);
                    }
                    fields.Append(
                        FormField::FromText(field.name.c_str(), field.value.c_str(), true));
                }
            }
            expected.push_back(field);
        }

        const std::string urlEncoded = ReferenceUrlEncoded(expected);
        ASSERT_EQ(UrlEncodedBodyLength(fields), urlEncoded.size());
        std::string buffer(urlEncoded.size() + 1, '#');
        EXPECT_EQ(
            BuildUrlEncodedBody(fields, buffer.data(), static_cast<std::uint32_t>(buffer.size())),
            urlEncoded.empty() ? 0u : urlEncoded.size());
        if (!urlEncoded.empty()) {
            EXPECT_EQ(buffer, urlEncoded + '\0');
        }

        EXPECT_EQ(MultipartBodyEstimate(fields), ReferenceEstimate(expected));
        const std::string multipart = ReferenceMultipart(expected);
        std::uint32_t length = 0;
        const std::string body = form_test::MultipartBody(fields, &length);
        ASSERT_EQ(length, multipart.size());
        ASSERT_EQ(body, multipart);
    }
}

}  // namespace

// Both body encoders against a plain reference encoder: for any field list, boundary and file
// contents, the same bytes and the same length.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "form/form_field.h"
#include "form/multipart_body.h"
#include "form/url_encoded_body.h"
#include "fuzz_support.h"

namespace {

using namespace zemuser;

constexpr char kFixedBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
constexpr int kMostFields = 8;

// The files a field may name: three real ones (one with a non-ASCII name), one that does not
// exist and a folder, which can never be opened as a file.
class UploadFiles {
  public:
    UploadFiles() : folder_("zemuser-fuzz-form") {
        for (const char* name : {"a.txt", "b.bin", "c\xC3\xAF.dat"}) {
            paths_.push_back(folder_.File(name));
            contents_.emplace_back();
            fuzz::WriteFileBytes(paths_.back(), "");
        }
        paths_.push_back(folder_.File("missing.txt"));
        contents_.emplace_back();
        paths_.push_back(folder_.File("folder"));
        contents_.emplace_back();
        std::filesystem::create_directory(paths_.back());
    }

    static constexpr std::size_t kWritable = 3;
    std::size_t Count() const { return paths_.size(); }
    const std::string& Path(std::size_t i) const { return paths_[i]; }
    // Nothing when the path cannot be opened as a file.
    const std::string* Contents(std::size_t i) const {
        return i < kWritable ? &contents_[i] : nullptr;
    }
    void Write(std::size_t i, std::string bytes) {
        fuzz::WriteFileBytes(paths_[i], bytes);
        contents_[i] = std::move(bytes);
    }

  private:
    fuzz::TempFolder folder_;
    std::vector<std::string> paths_;
    std::vector<std::string> contents_;
};

UploadFiles& Files() {
    static UploadFiles files;
    return files;
}

// UTF-16 to UTF-8, an unpaired surrogate becoming U+FFFD.
std::string Utf8(const std::u16string& wide) {
    std::string out;
    auto put = [&out](char32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    };
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char32_t unit = wide[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            put(0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return out;
}

// The paths above are ASCII but for the one two-byte letter of the third file's name.
std::u16string Utf16(const std::string& utf8Path) {
    std::u16string wide;
    for (std::size_t i = 0; i < utf8Path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8Path[i]);
        if (byte == 0xC3 && i + 1 < utf8Path.size()) {  // the one non-ASCII letter used above
            wide +=
                static_cast<char16_t>(0xC0 | (static_cast<unsigned char>(utf8Path[++i]) & 0x3F));
        } else {
            wide += static_cast<char16_t>(byte);
        }
    }
    return wide;
}

std::u16string WideText(FuzzedDataProvider& in) {
    std::u16string wide;
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t unit = in.ConsumeIntegralInRange<char16_t>(1, 0xFFFF);
        wide += unit;
    }
    return wide;
}

// One field as the encoders must see it, next to the FormField made from the same input.
struct ExpectedField {
    std::string name;
    std::string value;
    bool isFile = false;
    const std::string* contents = nullptr;  // for a file field that can be opened
};

FormField MakeField(FuzzedDataProvider& in, ExpectedField* expected) {
    expected->name = fuzz::AsCText(in.ConsumeRandomLengthString(40));
    const char* name = expected->name.c_str();
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const std::int32_t number = in.ConsumeIntegral<std::int32_t>();
            expected->value = std::to_string(number);
            return FormField::FromInteger(name, number);
        }
        case 1:
            expected->value = fuzz::AsCText(in.ConsumeRandomLengthString(200));
            return FormField::FromText(name, expected->value.c_str(), false);
        case 2: {
            // Longer than a text part's allowance.
            const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(8000, 20000);
            expected->value = std::string(length, in.ConsumeIntegralInRange<char>('!', '~'));
            return FormField::FromText(name, expected->value.c_str(), false);
        }
        case 3: {
            const std::u16string wide = WideText(in);
            expected->value = Utf8(wide);
            return FormField::FromWideText(name, wide.c_str(), false);
        }
        default: {
            const std::size_t file = in.ConsumeIntegralInRange<std::size_t>(0, Files().Count() - 1);
            expected->value = Files().Path(file);
            expected->isFile = true;
            expected->contents = Files().Contents(file);
            if (in.ConsumeBool()) {
                return FormField::FromText(name, expected->value.c_str(), true);
            }
            return FormField::FromWideText(name, Utf16(expected->value).c_str(), true);
        }
    }
}

std::string ReferenceUrlEncoded(const std::vector<ExpectedField>& fields) {
    std::string body;
    for (const ExpectedField& field : fields) {
        if (&field != &fields.front()) body += '&';
        body += field.name + "=" + field.value;
    }
    return body;
}

// Names as a part header holds them: quote, CR and LF as the form-submission rules write them.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '"' ? "%22" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : std::string(1, c);
    }
    return out;
}

std::string ReferencePart(const ExpectedField& field, const std::string& boundary) {
    std::string part =
        "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + Escaped(field.name);
    if (!field.isFile) return part + "\"\r\n\r\n" + field.value + "\r\n";
    part += "\"; filename=\"" + Escaped(field.value) + "\"\r\n\r\n";
    if (field.contents != nullptr) part += *field.contents + "\r\n";
    return part;
}

// The body, or none when a value or a file holds the delimiter.
std::optional<std::string> ReferenceMultipart(const std::vector<ExpectedField>& fields,
                                              const std::string& boundary) {
    const std::string delimiter = "--" + boundary;
    std::string body;
    for (const ExpectedField& field : fields) {
        const std::string& content =
            field.isFile ? (field.contents ? *field.contents : std::string()) : field.value;
        if (content.find(delimiter) != std::string::npos) return std::nullopt;
        body += ReferencePart(field, boundary);
    }
    return body + "--" + boundary + "--\r\n";
}

void CheckUrlEncoded(const FormFieldList& list, const std::string& expected) {
    const std::uint32_t length = UrlEncodedBodyLength(list);
    FUZZ_CHECK(length == expected.size());

    std::vector<char> exact(length + 1, '\x55');
    FUZZ_CHECK(BuildUrlEncodedBody(list, exact.data(), length + 1) == length);
    if (length == 0) {  // an empty list writes nothing, not even the terminator
        FUZZ_CHECK(exact[0] == '\x55');
        return;
    }
    FUZZ_CHECK(std::memcmp(exact.data(), expected.data(), length) == 0);
    FUZZ_CHECK(exact[length] == '\0');

    // One byte short of the terminator: nothing at all is written.
    std::vector<char> tight(length, '\x55');
    FUZZ_CHECK(BuildUrlEncodedBody(list, tight.data(), length) == 0);
    FUZZ_CHECK(std::vector<char>(length, '\x55') == tight);
}

void CheckMultipart(const FormFieldList& list, const std::optional<std::string>& reference,
                    const std::string& boundary) {
    BodyBlock body;
    const std::uint32_t length = BuildMultipartBody(list, &body, boundary.c_str());
    if (!reference) {
        FUZZ_CHECK(body == nullptr && length == 0);
        return;
    }
    const std::string& expected = *reference;
    FUZZ_CHECK(body != nullptr);
    FUZZ_CHECK(length == expected.size());
    FUZZ_CHECK(std::memcmp(body.get(), expected.data(), expected.size()) == 0);
    FUZZ_CHECK(body.get()[length] == '\0');
    // A block is handed over only into an empty holder.
    FUZZ_CHECK(BuildMultipartBody(list, &body, boundary.c_str()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string boundary =
        in.ConsumeBool() ? kFixedBoundary : fuzz::AsCText(in.ConsumeRandomLengthString(70));

    for (std::size_t i = 0; i < UploadFiles::kWritable; ++i) {
        // Now and then a file larger than its part's allowance.
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(6000, 40000);
            Files().Write(i, std::string(length, static_cast<char>(in.ConsumeIntegral<char>())));
        } else {
            Files().Write(i, in.ConsumeRandomLengthString(300));
        }
    }

    FormFieldList list;
    std::vector<ExpectedField> expected;
    const int count = in.ConsumeIntegralInRange(0, kMostFields);
    for (int i = 0; i < count; ++i) {
        expected.emplace_back();
        FormField field = MakeField(in, &expected.back());
        FUZZ_CHECK(field.value == expected.back().value);
        list.push_back(std::move(field));
    }

    CheckUrlEncoded(list, ReferenceUrlEncoded(expected));
    CheckMultipart(list, ReferenceMultipart(expected, boundary), boundary);
    return 0;
}

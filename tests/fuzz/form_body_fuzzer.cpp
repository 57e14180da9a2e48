// Both body encoders against the bodies written out by hand in the tests' reference: for any
// field list and file contents, the same bytes and the same length.
#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "form/form_field.h"
#include "form/multipart_body.h"
#include "form/url_encoded_body.h"
#include "fuzz_support.h"
#include "support/multipart_reference.h"

namespace {

using namespace zemuser;
using namespace fuzz;

// Files the fuzzer fills, and a folder, which opens but cannot be read.
const TempDir folder;
const std::string kPaths[] = {folder.File("a.txt"), folder.File("b.bin"), folder.File("dir")};
constexpr std::size_t kWritable = 2;
std::string contents[kWritable];

// A part header's name as the form-submission rules write it: quote, CR and LF escaped.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '"' ? "%22" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : std::string(1, c);
    }
    return out;
}

// Adds one field made from the input to `list`, and what it must encode to to the two bodies
// (no multipart body when a value or a file holds the delimiter).
void AddField(FuzzedDataProvider& in, FormFieldList* list, std::string* urlEncoded,
              std::optional<std::string>* multipart) {
    const std::string name = AsCText(in.ConsumeRandomLengthString(40));
    const bool isFile = in.ConsumeBool();
    const auto which = in.ConsumeIntegralInRange<std::size_t>(0, kWritable);
    const std::string* file = isFile && which < kWritable ? &contents[which] : nullptr;
    // A text value is now and then longer than a text part's allowance.
    const std::string value = isFile ? kPaths[which]
                              : in.ConsumeIntegralInRange(0, 9) > 0
                                  ? AsCText(in.ConsumeRandomLengthString(200))
                                  : std::string(in.ConsumeIntegralInRange(8000, 20000), '~');
    list->push_back(FormField::FromText(name.c_str(), value.c_str(), isFile));
    *urlEncoded += (list->size() > 1 ? "&" : "") + name + "=" + value;
    if ((isFile ? (file ? *file : "") : value).find(kDelimiter) != std::string::npos) {
        multipart->reset();
    }
    if (*multipart) {
        **multipart +=
            isFile ? FilePart(Escaped(name), Escaped(value), file) : TextPart(Escaped(name), value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::filesystem::create_directory(kPaths[kWritable]);
    for (std::size_t i = 0; i < kWritable; ++i) {  // now and then larger than a part's allowance
        contents[i] =
            in.ConsumeIntegralInRange(0, 7) == 0
                ? std::string(in.ConsumeIntegralInRange(6000, 40000), in.ConsumeIntegral<char>())
                : in.ConsumeRandomLengthString(300);
        WriteFileBytes(kPaths[i], contents[i]);
    }
    FormFieldList list;
    std::string urlEncoded;
    std::optional<std::string> multipart = std::string();
    for (int count = in.ConsumeIntegralInRange(0, 8); count > 0; --count) {
        AddField(in, &list, &urlEncoded, &multipart);
    }
    // URL-encoded: the exact length; written whole with its terminator into exactly that room
    // (an empty list writes nothing, not even the terminator), and not at all one byte short.
    const std::uint32_t length = UrlEncodedBodyLength(list);
    FUZZ_CHECK(length == urlEncoded.size());
    std::vector<char> exact(length + 1, '\x55'), tight(length, '\x55');
    FUZZ_CHECK(BuildUrlEncodedBody(list, exact.data(), length + 1) == length);
    FUZZ_CHECK(std::string(exact.data(), length + 1) == (length ? urlEncoded + '\0' : "\x55"));
    FUZZ_CHECK(length == 0 || BuildUrlEncodedBody(list, tight.data(), length) == 0);
    FUZZ_CHECK(std::vector<char>(length, '\x55') == tight);
    // Multipart, on the boundary the delimiter is made of (without its leading "--").
    BodyBlock body;
    const std::uint32_t bodyLength = BuildMultipartBody(list, &body, kDelimiter + 2);
    FUZZ_CHECK(multipart ? body != nullptr : body == nullptr && bodyLength == 0);
    FUZZ_CHECK(!multipart ||
               std::string(body.get(), bodyLength + 1) == *multipart + ClosingDelimiter() + '\0');
    return 0;
}

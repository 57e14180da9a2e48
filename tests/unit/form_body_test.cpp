// The form fields and the two body encoders, against bodies written out by hand.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "form/multipart_body.h"
#include "form/url_encoded_body.h"
#include "support/multipart_reference.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;
using testing_support::ClosingDelimiter;
using testing_support::FilePart;
using testing_support::TempDir;
using testing_support::TextPart;
using testing_support::WriteFileBytes;

constexpr char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
const std::string kClosing = ClosingDelimiter();

// The body as BuildMultipartBody gives it; a body must be followed by a zero byte.
std::string Multipart(const FormFieldList& fields, std::uint32_t* length) {
    BodyBlock block;
    *length = BuildMultipartBody(fields, &block, kBoundary);
    if (!block) return "<none>";
    EXPECT_EQ(block.get()[*length], '\0');
    return std::string(block.get(), *length);
}

std::string UrlEncoded(const FormFieldList& fields) {
    const std::uint32_t length = UrlEncodedBodyLength(fields);
    std::string buffer(length + 1, '#');
    const std::uint32_t written = BuildUrlEncodedBody(fields, buffer.data(), length + 1);
    EXPECT_EQ(written, length);
    if (length > 0) {
        EXPECT_EQ(buffer[length], '\0');
    }
    return buffer.substr(0, written);
}

TEST(FormFieldTest, ValuesAsSent) {
    const char16_t eAcute[] = {0x00E9, 0};
    const char16_t empty[] = {0};
    struct Row {
        const char* what;
        FormField field;
        std::string value;
        bool isWide;
    };
    const Row rows[] = {
        {"integer 1", FormField::FromInteger("n", 1), "1", false},
        {"integer -5", FormField::FromInteger("n", -5), "-5", false},
        {"lowest integer", FormField::FromInteger("n", INT_MIN), "-2147483648", false},
        {"null text", FormField::FromText("n", nullptr, false), "", false},
        {"wide e acute", FormField::FromWideText("n", eAcute, false), "\xC3\xA9", true},
        {"empty wide", FormField::FromWideText("n", empty, false), "", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.field.value, row.value) << row.what;
        EXPECT_EQ(row.field.isWide, row.isWide) << row.what;
    }
    EXPECT_EQ(rows[4].field.wideValue, std::u16string(eAcute));
}

TEST(FormBodyTest, UrlEncodedBodies) {
    FormFieldList fields;
    EXPECT_EQ(UrlEncodedBodyLength(fields), 0u);
    fields.push_back(FormField::FromText("session_id", "42", false));
    fields.push_back(FormField::FromText("act", "download", false));
    EXPECT_EQ(UrlEncoded(fields), "session_id=42&act=download");
    char small[26];
    EXPECT_EQ(BuildUrlEncodedBody(fields, small, sizeof small), 0u);  // no room for the zero
    fields.push_back(FormField::FromText("x", "a b&c=d", false));     // written unchanged
    EXPECT_EQ(UrlEncoded(fields), "session_id=42&act=download&x=a b&c=d");
}

TEST(FormBodyTest, MultipartBodies) {
    TempDir folder;
    const std::string file = folder.File("a.txt");
    WriteFileBytes(file, "abc");
    const std::string missing = folder.File("missing.txt");
    struct Row {
        const char* what;
        FormFieldList fields;
        std::string body;
    };
    const Row rows[] = {
        {"empty list", {}, kClosing},
        {"worked example",
         {FormField::FromInteger("file_num", 1), FormField::FromText("file1", file.c_str(), true)},
         TextPart("file_num", "1") + FilePart("file1", file, nullptr) + "abc\r\n" + kClosing},
        {"missing file leaves the header alone",
         {FormField::FromText("file1", missing.c_str(), true), FormField::FromInteger("n", 2)},
         FilePart("file1", missing, nullptr) + TextPart("n", "2") + kClosing},
        {"order kept, duplicates kept",
         {FormField::FromText("b", "2", false), FormField::FromText("a", "1", false),
          FormField::FromText("b", "3", false)},
         TextPart("b", "2") + TextPart("a", "1") + TextPart("b", "3") + kClosing},
        {"a text longer than any allowance",
         {FormField::FromText("t", std::string(20000, 'v').c_str(), false)},
         TextPart("t", std::string(20000, 'v')) + kClosing},
    };
    for (const Row& row : rows) {
        std::uint32_t length = 0;
        EXPECT_EQ(Multipart(row.fields, &length), row.body) << row.what;
        EXPECT_EQ(length, row.body.size()) << row.what;
    }
}

TEST(FormBodyTest, WideFilePathOpensTheFileAndShowsItsUtf8Name) {
    TempDir folder;
    const std::string path = folder.File("caf\xC3\xA9.txt");
    WriteFileBytes(path, "xyz");
    std::u16string wide;
    for (char c : folder.File("caf")) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    wide += u"\u00E9.txt";
    const FormFieldList fields{FormField::FromWideText("file1", wide.c_str(), true)};
    std::uint32_t length = 0;
    EXPECT_EQ(Multipart(fields, &length), FilePart("file1", path, nullptr) + "xyz\r\n" + kClosing);
}

// A figure of /proc/self/status in bytes (the file gives kB), or -1.
long long StatusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(key.size() + 1));
        long long kilobytes = -1;
        fields >> kilobytes;
        return kilobytes < 0 ? -1 : kilobytes * 1024;
    }
    return -1;
}

// A large upload is held once in memory: the body's block is not a multiple of the file.
TEST(FormBodyTest, LargeFileCostsAboutItsOwnSize) {
    constexpr std::size_t kFileSize = 48u << 20;
    TempDir folder;
    const std::string path = folder.File("large.bin");
    WriteFileBytes(path, std::string(kFileSize, 'L'));
    const FormFieldList fields{FormField::FromText("file1", path.c_str(), true)};
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak resident size starts afresh
    const long long before = StatusBytes("VmRSS");
    BodyBlock body;
    const std::uint32_t length = BuildMultipartBody(fields, &body, kBoundary);
    const long long peak = StatusBytes("VmHWM");
    EXPECT_EQ(length, FilePart("file1", path, nullptr).size() + kFileSize + 2 + kClosing.size());
    ASSERT_GT(before, 0);
    EXPECT_LT(peak - before, static_cast<long long>(kFileSize + kFileSize / 2));
}

}  // namespace

// The two body encoders against bodies written out byte by byte.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "form/multipart_body.h"
#include "form/url_encoded_body.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Replace(std::string text, const std::string& marker, const std::string& value) {
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
        text.replace(at, marker.size(), value);
    return text;
}

TEST(FormBody, UrlEncodedBytes) {
    const char16_t eAcute[] = {0x00E9, 0};
    const struct {
        const char* name;
        FormFieldList fields;
        std::string body;
    } rows[] = {
        {"empty", {}, ""},
        {"pairs in order",
         {FormField::FromText("session_id", "42", false),
          FormField::FromText("act", "download", false)},
         "session_id=42&act=download"},
        {"values as they are",
         {FormField::FromInteger("n", INT_MIN), FormField::FromWideText("w", eAcute, false),
          FormField::FromText("t", nullptr, false), FormField::FromText("x", "a b&c=d", false)},
         "n=-2147483648&w=\xC3\xA9&t=&x=a b&c=d"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(UrlEncodedBodyLength(row.fields), row.body.size());
        std::string buffer(row.body.size() + 2, '#');
        EXPECT_EQ(BuildUrlEncodedBody(row.fields, buffer.data(), row.body.size() + 1),
                  row.body.size());
        EXPECT_EQ(buffer, row.body.empty() ? "##" : row.body + std::string("\0#", 2));
        // No room for the zero byte after the body: nothing written.
        std::string small(row.body.size(), '#');
        EXPECT_EQ(BuildUrlEncodedBody(row.fields, small.data(), row.body.size()), 0u);
        EXPECT_EQ(small, std::string(row.body.size(), '#'));
    }
}

TEST(FormBody, MultipartBytes) {
    TempDir dir;  // @F@ in a body stands for its path
    WriteFileBytes(dir.File("a.txt"), "abc");
    WriteFileBytes(dir.File("caf\xC3\xA9.txt"), "xyz");
    WriteFileBytes(dir.File("bad.txt"), "x\r\n----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n");
    std::u16string wide(dir.path().begin(), dir.path().end());
    wide += u"/caf\u00E9.txt";
    const std::string part =
        "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; ";
    const std::string closing = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
    const struct {
        const char* name;
        FormFieldList fields;
        std::string body;  // empty: refused
    } rows[] = {
        {"no fields", {}, closing},
        {"a number and a file",
         {FormField::FromInteger("file_num", 1),
          FormField::FromText("file1", dir.File("a.txt").c_str(), true)},
         part + "name=\"file_num\"\r\n\r\n1\r\n" + part +
             "name=\"file1\"; filename=\"@F@/a.txt\"\r\n\r\nabc\r\n" + closing},
        {"a missing file leaves the header alone",
         {FormField::FromText("f", dir.File("none").c_str(), true), FormField::FromInteger("n", 2)},
         part + "name=\"f\"; filename=\"@F@/none\"\r\n\r\n" + part + "name=\"n\"\r\n\r\n2\r\n" +
             closing},
        {"order and duplicates kept",
         {FormField::FromText("b", "2", false), FormField::FromText("a", "1", false),
          FormField::FromText("b", "3", false)},
         part + "name=\"b\"\r\n\r\n2\r\n" + part + "name=\"a\"\r\n\r\n1\r\n" + part +
             "name=\"b\"\r\n\r\n3\r\n" + closing},
        {"a wide path opens its file and shows in UTF-8",
         {FormField::FromWideText("file1", wide.c_str(), true)},
         part + "name=\"file1\"; filename=\"@F@/caf\xC3\xA9.txt\"\r\n\r\nxyz\r\n" + closing},
        {"quotes and line ends in names are escaped",
         {FormField::FromText("a\"b\r\nc", "v", false),
          FormField::FromText("f", dir.File("x\"\r\n").c_str(), true)},
         part + "name=\"a%22b%0D%0Ac\"\r\n\r\nv\r\n" + part +
             "name=\"f\"; filename=\"@F@/x%22%0D%0A\"\r\n\r\n" + closing},
        {"a value holding the delimiter",
         {FormField::FromText("v", "----MULTI-PARTS-FORM-DATA-BOUNDARY", false)},
         ""},
        {"a file holding the delimiter",
         {FormField::FromText("f", dir.File("bad.txt").c_str(), true)},
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        BodyBlock block;
        const std::uint32_t length =
            BuildMultipartBody(row.fields, &block, "--MULTI-PARTS-FORM-DATA-BOUNDARY");
        const std::string expected = Replace(row.body, "@F@", dir.path());
        ASSERT_EQ(length, expected.size());
        ASSERT_EQ(static_cast<bool>(block), length != 0);
        if (block) {
            EXPECT_EQ(std::string(block.get(), length + 1), expected + '\0');
        }
    }
}

}  // namespace

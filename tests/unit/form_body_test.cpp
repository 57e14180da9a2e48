// The multipart body encoder against bodies written out byte by byte.
#include <gtest/gtest.h>

#include <string>

#include "form/multipart_body.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;
using namespace testing_support;

TEST(FormBody, MultipartBytes) {
    TempDir dir;  // @ in a body stands for its path
    WriteFileBytes(dir.File("caf\xC3\xA9.txt"), "xyz");
    std::u16string wide(dir.path().begin(), dir.path().end());
    wide += u"/caf\u00E9.txt";
    const std::string part =
                          "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; ",
                      end = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
    const struct {
        const char* name;
        FormFieldList fields;
        std::string body;
    } rows[] = {
        // clang-format off
        {"a missing file leaves the header alone", {FormField::FromText("f", dir.File("no").c_str(), true)},
         part + "name=\"f\"; filename=\"@/no\"\r\n\r\n" + end},
        {"a wide path opens its file and shows in UTF-8", {FormField::FromWideText("f", wide.c_str(), true)},
         part + "name=\"f\"; filename=\"@/caf\xC3\xA9.txt\"\r\n\r\nxyz\r\n" + end},
        {"quotes and line ends in names are escaped", {FormField::FromText("a\"b\r\nc", "v", false),
          FormField::FromText("f", dir.File("x\"\r\n").c_str(), true)},
         part + "name=\"a%22b%0D%0Ac\"\r\n\r\nv\r\n" + part + "name=\"f\"; filename=\"@/x%22%0D%0A\"\r\n\r\n" + end},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        BodyBlock block;
        const std::uint32_t length =
            BuildMultipartBody(row.fields, &block, "--MULTI-PARTS-FORM-DATA-BOUNDARY");
        std::string expected = row.body;
        for (auto at = expected.find('@'); at != std::string::npos; at = expected.find('@'))
            expected.replace(at, 1, dir.path());
        ASSERT_TRUE(block);
        EXPECT_EQ(std::string(block.get(), length + 1), expected + '\0');
    }
}

}  // namespace

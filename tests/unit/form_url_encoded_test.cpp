#include <gtest/gtest.h>

#include <string>

#include "form/url_encoded_body.h"

namespace {

FormFieldList SessionFields() {
    FormFieldList fields;
    fields.Append(FormField::FromText("session_id", "42", false));
    fields.Append(FormField::FromText("act", "download", false));
    return fields;
}

TEST(UrlEncodedBodyTest, JoinsPairsWithAmpersandsAndEndsWithAZeroByte) {
    const FormFieldList fields = SessionFields();
    ASSERT_EQ(UrlEncodedBodyLength(fields), 26u);
    std::string buffer(27, '#');
    ASSERT_EQ(BuildUrlEncodedBody(fields, buffer.data(), 27), 26u);
    EXPECT_EQ(buffer, std::string("session_id=42&act=download") + '\0');
}

TEST(UrlEncodedBodyTest, NeedsRoomForTheZeroByte) {
    const FormFieldList fields = SessionFields();
    std::string buffer(26, '#');
    EXPECT_EQ(BuildUrlEncodedBody(fields, buffer.data(), 26), 0u);
    EXPECT_EQ(buffer, std::string(26, '#'));
    EXPECT_EQ(BuildUrlEncodedBody(fields, nullptr, 27), 0u);
}

TEST(UrlEncodedBodyTest, EmptyListGivesNoBody) {
    const FormFieldList fields;
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(UrlEncodedBodyLength(fields), 0u);
    EXPECT_EQ(BuildUrlEncodedBody(fields, buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], '#');
}

TEST(UrlEncodedBodyTest, CopiesBytesWithoutEscapingAndIgnoresFileAndWideFlags) {
    FormFieldList fields;
    fields.Append(FormField::FromText("q", "a b&c=d", false));
    fields.Append(FormField::FromText("file1", "/tmp/x y.txt", true));
    fields.Append(FormField::FromWideText("w", u"\u00e9", false));
    fields.Append(FormField::FromText("", "", false));
    fields.Append(FormField::FromInteger("file_num", 1));
    const std::string expected = "q=a b&c=d&file1=/tmp/x y.txt&w=\xC3\xA9&=&file_num=1";
    ASSERT_EQ(UrlEncodedBodyLength(fields), expected.size());
    std::string buffer(expected.size() + 1, '#');
    ASSERT_EQ(BuildUrlEncodedBody(fields, buffer.data(), static_cast<std::uint32_t>(buffer.size())),
              expected.size());
    EXPECT_EQ(buffer, expected + '\0');
}

}  // namespace

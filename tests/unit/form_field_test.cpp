#include "form/form_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string>

#include "form/form_field_list.h"
#include "form_test_files.h"

namespace {

using form_test::kBoundary;

TEST(FormFieldTest, IntegersAreWrittenInDecimal) {
    EXPECT_EQ(FormField::FromInteger("file_num", 1)->value, "1");
    EXPECT_EQ(FormField::FromInteger("n", -5)->value, "-5");
    EXPECT_EQ(FormField::FromInteger("n", INT32_MIN)->value, "-2147483648");
    EXPECT_EQ(FormField::FromInteger("n", INT32_MAX)->value, "2147483647");
    const auto field = FormField::FromInteger("file_num", 1);
    EXPECT_EQ(field->name, "file_num");
    EXPECT_FALSE(field->isFile);
    EXPECT_FALSE(field->isWide);
}

TEST(FormFieldTest, NarrowTextIsKeptAsPassedAndNullCountsAsEmpty) {
    const auto file = FormField::FromText("file1", "dir/a b&c=d.txt", true);
    EXPECT_EQ(file->value, "dir/a b&c=d.txt");
    EXPECT_TRUE(file->isFile);
    EXPECT_FALSE(file->isWide);
    EXPECT_TRUE(file->wideValue.empty());

    const auto empty = FormField::FromText(nullptr, nullptr, false);
    EXPECT_EQ(empty->name, "");
    EXPECT_EQ(empty->value, "");
}

TEST(FormFieldTest, WideTextIsConvertedToUtf8) {
    const auto accented = FormField::FromWideText("name", u"\u00e9", false);
    EXPECT_EQ(accented->value, "\xC3\xA9");
    EXPECT_TRUE(accented->isWide);
    EXPECT_EQ(accented->wideValue, u"\u00e9");

    // A pair of surrogates is one character of four bytes; a lone one becomes U+FFFD.
    EXPECT_EQ(FormField::FromWideText("n", u"a\U0001F600", true)->value, "a\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    EXPECT_EQ(FormField::FromWideText("n", lone, false)->value, "x\xEF\xBF\xBDy");

    const auto empty = FormField::FromWideText("n", u"", true);
    EXPECT_EQ(empty->value, "");
    EXPECT_TRUE(empty->isWide);
    EXPECT_TRUE(empty->isFile);
    const auto null = FormField::FromWideText("n", nullptr, false);
    EXPECT_EQ(null->value, "");
    EXPECT_TRUE(null->wideValue.empty());
}

TEST(FormFieldTest, UrlEncodedPairIsWrittenOnlyWhenItFits) {
    const auto field = FormField::FromText("act", "download", false);
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(field->WriteUrlEncoded(buffer, 12), 12u);
    EXPECT_EQ(std::string(buffer, 13), "act=download#");

    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(field->WriteUrlEncoded(buffer, 11), 0u);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(FormField::FromText("", "", false)->WriteUrlEncoded(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '=');
}

TEST(FormFieldTest, MultipartEstimateIsAFixedAllowanceOverTheFileSize) {
    form_test::TempFolder folder;
    const std::string path = folder.File("data.bin");
    form_test::WriteFileBytes(path, std::string(1000, 'x'));

    EXPECT_EQ(FormField::FromText("t", std::string(20000, 'v').c_str(), false)->MultipartEstimate(),
              8192u);
    EXPECT_EQ(FormField::FromText("f", path.c_str(), true)->MultipartEstimate(), 7144u);
    EXPECT_EQ(FormField::FromText("f", folder.File("missing").c_str(), true)->MultipartEstimate(),
              6144u);
}

TEST(FormFieldTest, MultipartPartNeverPassesItsRoom) {
    const auto field = FormField::FromText("file_num", "1", false);
    std::string buffer(200, '#');
    EXPECT_EQ(field->WriteMultipart(buffer.data(), 89, kBoundary), 0u);
    EXPECT_EQ(buffer, std::string(200, '#'));
    EXPECT_EQ(field->WriteMultipart(buffer.data(), 90, kBoundary), 90u);
    EXPECT_EQ(buffer.substr(0, 91),
              "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
              "Content-Disposition: form-data; name=\"file_num\"\r\n\r\n1\r\n#");

    form_test::TempFolder folder;
    const std::string path = folder.File("a.txt");
    form_test::WriteFileBytes(path, "abc");
    const auto file = FormField::FromText("file1", path.c_str(), true);
    const std::uint32_t partLength = 60 + 32 + 5 + static_cast<std::uint32_t>(path.size()) + 5;
    std::string fileBuffer(partLength + 10, '#');
    EXPECT_EQ(file->WriteMultipart(fileBuffer.data(), partLength - 1, kBoundary), 0u);
    EXPECT_EQ(fileBuffer, std::string(partLength + 10, '#'));
    EXPECT_EQ(file->WriteMultipart(fileBuffer.data(), partLength, kBoundary), partLength);
    EXPECT_EQ(fileBuffer.substr(partLength - 5), "abc\r\n##########");
}

TEST(FormFieldListTest, KeepsEveryEntryInTheOrderOfAdding) {
    FormFieldList fields;
    EXPECT_TRUE(fields.Empty());
    fields.Append(FormField::FromText("a", "1", false));
    fields.Append(FormField::FromText("b", "2", false));
    fields.Append(FormField::FromText("a", "3", false));
    fields.Append(nullptr);
    EXPECT_EQ(fields.Count(), 3u);
    std::string order;
    for (const FormField& field : fields) order += field.name + field.value + ";";
    EXPECT_EQ(order, "a1;b2;a3;");

    fields.Clear();
    EXPECT_TRUE(fields.Empty());
    EXPECT_EQ(fields.Count(), 0u);
    EXPECT_EQ(fields.begin(), fields.end());

    CookieList cookies;
    cookies.Append(std::make_unique<CookieEntry>(CookieEntry{"k", "v"}));
    cookies.Append(std::make_unique<CookieEntry>(CookieEntry{"k", "w"}));
    ASSERT_EQ(cookies.Count(), 2u);
    EXPECT_EQ(std::next(cookies.begin())->value, "w");
    cookies.Clear();
    EXPECT_TRUE(cookies.Empty());
}

}  // namespace

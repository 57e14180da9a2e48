#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "form/multipart_body.h"
#include "form/multipart_body_writer.h"
#include "form_test_files.h"

namespace {

using form_test::kBoundary;
using form_test::MultipartBody;
using form_test::TempFolder;
using form_test::WriteFileBytes;

const std::string kDelimiter = "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";
const std::string kClosing = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";

std::string TextPart(const std::string& name, const std::string& value) {
    return kDelimiter + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string FileHeader(const std::string& name, const std::string& fileName) {
    return kDelimiter + "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           fileName + "\"\r\n\r\n";
}

// The file is named by a relative path, as in the worked example, so the body holds a.txt.
class MultipartBodyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.File(""));
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    TempFolder folder_;
    std::filesystem::path previous_;
};

TEST_F(MultipartBodyTest, WorkedExampleByteForByte) {
    WriteFileBytes("a.txt", "abc");
    FormFieldList fields;
    fields.Append(FormField::FromInteger("file_num", 1));
    fields.Append(FormField::FromText("file1", "a.txt", true));

    EXPECT_EQ(MultipartBodyEstimate(fields), 14339u);
    std::uint32_t length = 0;
    const std::string body = MultipartBody(fields, &length);
    EXPECT_EQ(length, 235u);
    EXPECT_EQ(body,
              "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
              "Content-Disposition: form-data; name=\"file_num\"\r\n"
              "\r\n"
              "1\r\n"
              "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
              "Content-Disposition: form-data; name=\"file1\"; filename=\"a.txt\"\r\n"
              "\r\n"
              "abc\r\n"
              "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");

    // The block is sized from the estimate and needs no more.
    form::MultipartBodyWriter writer(fields, kBoundary);
    ASSERT_TRUE(writer.Reserve());
    EXPECT_EQ(writer.Capacity(), 14339u + 38u + 1u);
    EXPECT_EQ(writer.Write(), 235u);
}

TEST_F(MultipartBodyTest, EmptyListGivesTheClosingDelimiterAlone) {
    const FormFieldList fields;
    EXPECT_EQ(MultipartBodyEstimate(fields), 0u);
    std::uint32_t length = 0;
    EXPECT_EQ(MultipartBody(fields, &length), kClosing);
    EXPECT_EQ(length, 38u);
}

TEST_F(MultipartBodyTest, MissingFileLeavesItsHeaderDirectlyBeforeTheNextDelimiter) {
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", "missing.txt", true));
    fields.Append(FormField::FromText("after", "x", false));
    EXPECT_EQ(MultipartBodyEstimate(fields), 6144u + 8192u);
    EXPECT_EQ(MultipartBody(fields),
              FileHeader("file1", "missing.txt") + TextPart("after", "x") + kClosing);
}

TEST_F(MultipartBodyTest, BlockAlreadyGivenIsLeftAlone) {
    FormFieldList fields;
    fields.Append(FormField::FromText("a", "b", false));
    char existing = 'x';
    char* body = &existing;
    EXPECT_EQ(BuildMultipartBody(fields, &body, kBoundary), 0u);
    EXPECT_EQ(body, &existing);
    EXPECT_EQ(BuildMultipartBody(fields, nullptr, kBoundary), 0u);
}

TEST_F(MultipartBodyTest, TextLongerThanItsAllowanceIsSentWhole) {
    const std::string longValue(20000, 'v');
    FormFieldList fields;
    fields.Append(FormField::FromText("big", longValue.c_str(), false));
    fields.Append(FormField::FromText(std::string(9000, 'n').c_str(), "", false));
    fields.Append(FormField::FromText("small", "s", false));
    EXPECT_EQ(MultipartBodyEstimate(fields), 3u * 8192u);
    std::uint32_t length = 0;
    const std::string body = MultipartBody(fields, &length);
    const std::string expected = TextPart("big", longValue) + TextPart(std::string(9000, 'n'), "") +
                                 TextPart("small", "s") + kClosing;
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(body, expected);
}

TEST_F(MultipartBodyTest, FileGrownAfterMeasuringIsSentWholeInALargerBlock) {
    const std::string first(100, 'a');
    const std::string added(50000, 'b');
    WriteFileBytes("grow.bin", first);
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", "grow.bin", true));
    fields.Append(FormField::FromText("tail", "t", false));

    form::MultipartBodyWriter writer(fields, kBoundary);
    ASSERT_TRUE(writer.Reserve());
    const std::size_t reserved = writer.Capacity();
    WriteFileBytes("grow.bin", added, /*append=*/true);
    const std::uint32_t length = writer.Write();

    const std::string expected =
        FileHeader("file1", "grow.bin") + first + added + "\r\n" + TextPart("tail", "t") + kClosing;
    ASSERT_EQ(length, expected.size());
    EXPECT_GT(writer.Capacity(), reserved);
    char* block = writer.Release();
    EXPECT_EQ(std::string(block, length), expected);
    EXPECT_EQ(block[length], '\0');
    HeapFree(GetProcessHeap(), 0, block);
}

TEST_F(MultipartBodyTest, FileShrunkAfterMeasuringGivesWhatWasRead) {
    WriteFileBytes("shrink.bin", std::string(10000, 'z'));
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", "shrink.bin", true));

    form::MultipartBodyWriter writer(fields, kBoundary);
    ASSERT_TRUE(writer.Reserve());
    WriteFileBytes("shrink.bin", "tiny");
    const std::uint32_t length = writer.Write();
    const std::string expected = FileHeader("file1", "shrink.bin") + "tiny\r\n" + kClosing;
    ASSERT_EQ(length, expected.size());
    char* block = writer.Release();
    EXPECT_EQ(std::string(block, length), expected);
    HeapFree(GetProcessHeap(), 0, block);
}

TEST_F(MultipartBodyTest, WidePathOpensTheFileAndNamesItInUtf8) {
    WriteFileBytes("caf\xC3\xA9.txt", "contents");
    FormFieldList fields;
    fields.Append(FormField::FromWideText("file1", u"caf\u00e9.txt", true));
    EXPECT_EQ(MultipartBodyEstimate(fields), 6144u + 8u);
    EXPECT_EQ(MultipartBody(fields),
              FileHeader("file1", "caf\xC3\xA9.txt") + "contents\r\n" + kClosing);
}

TEST_F(MultipartBodyTest, BoundaryIsTheOneGiven) {
    FormFieldList fields;
    fields.Append(FormField::FromText("k", "v", false));
    EXPECT_EQ(MultipartBody(fields, nullptr, "xyz"),
              "--xyz\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--xyz--\r\n");
    EXPECT_EQ(MultipartBody(fields, nullptr, nullptr),
              "--\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n----\r\n");
}

// A sparse file: its size costs no disk. Its low 32 bits are small, so only the whole size
// tells that the body could not be sent.
TEST_F(MultipartBodyTest, BodyBeyondFourGigabytesFailsWithoutABlock) {
    const std::uint64_t size = (std::uint64_t{1} << 32) + 3;
    WriteFileBytes("huge.bin", "");
    ASSERT_EQ(truncate("huge.bin", static_cast<off_t>(size)), 0);
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", "huge.bin", true));
    EXPECT_EQ(fields.begin()->MultipartEstimate(), 0xFFFFFFFFu);
    EXPECT_EQ(MultipartBodyEstimate(fields), 0xFFFFFFFFu);

    char* body = nullptr;
    EXPECT_EQ(BuildMultipartBody(fields, &body, kBoundary), 0u);
    EXPECT_EQ(body, nullptr);
}

TEST_F(MultipartBodyTest, FileGrowingBeyondFourGigabytesFailsWithoutABlock) {
    WriteFileBytes("huge.bin", "small");
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", "huge.bin", true));
    form::MultipartBodyWriter writer(fields, kBoundary);
    ASSERT_TRUE(writer.Reserve());
    ASSERT_EQ(truncate("huge.bin", static_cast<off_t>(0xFFFFFFFFull - 50)), 0);
    EXPECT_EQ(writer.Write(), 0u);
    EXPECT_EQ(writer.Release(), nullptr);
}

}  // namespace

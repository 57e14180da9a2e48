// A large upload is held once in memory: the body's block is not a multiple of the file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "form_test_files.h"

namespace {

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

// Sets the peak resident size back to the current one.
bool ResetPeakResidentSize() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

TEST(MultipartMemoryTest, LargeFileCostsAboutItsOwnSize) {
    constexpr std::size_t kFileSize = 48u << 20;
    form_test::TempFolder folder;
    const std::string path = folder.File("large.bin");
    {
        const std::string chunk(1u << 20, 'L');
        std::ofstream out(path, std::ios::binary);
        for (std::size_t written = 0; written < kFileSize; written += chunk.size()) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        ASSERT_TRUE(out);
    }
    FormFieldList fields;
    fields.Append(FormField::FromText("file1", path.c_str(), true));

    if (!ResetPeakResidentSize()) GTEST_SKIP() << "the peak resident size cannot be reset here";
    const long long before = StatusBytes("VmRSS");
    char* body = nullptr;
    const std::uint32_t length = BuildMultipartBody(fields, &body, form_test::kBoundary);
    const long long peak = StatusBytes("VmHWM");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(length, kFileSize + 60 + 32 + 5 + path.size() + 2 + 38);
    EXPECT_EQ(body[length - 3], '-');
    HeapFree(GetProcessHeap(), 0, body);
    ASSERT_GT(before, 0);
    ASSERT_GT(peak, 0);
    // Generous: room for the allocator's and the sanitizer's own bookkeeping, not for a copy.
    EXPECT_LT(peak - before, static_cast<long long>(kFileSize + kFileSize / 2));
}

}  // namespace

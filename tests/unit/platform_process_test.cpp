#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/proc_stat.h"
#include "support/real_servers.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;

std::uint64_t Units(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

std::string InternetText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE,
        GetModuleHandleA("wininet.dll"), code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length != 0 ? std::string(text, length) : "";
    LocalFree(text);
    return result;
}

TEST(PlatformMessages, InternetCodesHaveTextsAndOthersNone) {
    const std::string text = InternetText(ERROR_INTERNET_CANNOT_CONNECT);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const DWORD codes[] = {12001, 12002, 12003, 12004, 12005, 12006, 12007, 12009, 12010,
                           12017, 12018, 12019, 12029, 12030, 12031, 12032, 12037, 12038,
                           12044, 12045, 12150, 12152, 12153, 12154, 12156, 12168, 12175};
    std::set<std::string> distinct;
    for (DWORD code : codes) distinct.insert(InternetText(code));
    EXPECT_EQ(distinct.size(), std::size(codes));
    EXPECT_EQ(distinct.count(""), 0u);

    for (DWORD none : {DWORD{0}, DWORD{2}, DWORD{12008}}) {
        char* unset = nullptr;
        EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE,
                                 GetModuleHandleA("wininet.dll"), none, 0,
                                 reinterpret_cast<LPSTR>(&unset), 0, nullptr),
                  0u);
        EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
        EXPECT_EQ(unset, nullptr);
    }

    // Into a buffer of the caller's: it must hold the text and its terminator.
    char small[8];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("WinINet.dll"),
                             ERROR_INTERNET_TIMEOUT, 0, small, sizeof small, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char room[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND,
                                        0, room, sizeof room, nullptr);
    EXPECT_GT(length, 0u);
    EXPECT_EQ(std::string(room).size(), length);
}

TEST(PlatformModules, OnlyKernelAndItsGetSystemTimesAreKnown) {
    HMODULE kernel = LoadLibraryA("KERNEL32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "GetSystemTimes"), reinterpret_cast<FARPROC>(&GetSystemTimes));
    EXPECT_EQ(GetProcAddress(kernel, "CreateThread"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(kernel));

    EXPECT_EQ(LoadLibraryA("user32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "GetSystemTimes"), nullptr);
    EXPECT_NE(GetModuleHandleA("wininet.DLL"), nullptr);
    EXPECT_EQ(GetModuleHandleA("wininet.dll.bak"), nullptr);
    EXPECT_NE(GetDesktopWindow(), nullptr);
}

TEST(PlatformTimes, ProcStatLineInWindowsShape) {
    const auto ticks =
        platform::posix::ParseProcStatCpuLine("cpu  10 2 30 400 5 6 7 8 9 10\ncpu0 1 2 3 4\n");
    ASSERT_TRUE(ticks.has_value());
    EXPECT_EQ(ticks->user, 12u);
    EXPECT_EQ(ticks->idle, 405u);
    EXPECT_EQ(ticks->kernel, 30u + 6 + 7 + 8 + 405);
    EXPECT_TRUE(platform::posix::ParseProcStatCpuLine("cpu 1 2 3 4").has_value());  // old kernels
    EXPECT_FALSE(platform::posix::ParseProcStatCpuLine("cpu 1 2 3\n").has_value());
    EXPECT_FALSE(platform::posix::ParseProcStatCpuLine("intr 1 2 3 4").has_value());
    EXPECT_EQ(platform::posix::TicksToFileTimeUnits(250, 100), 25'000'000u);
    EXPECT_EQ(platform::posix::TicksToFileTimeUnits(7, 3), 23'333'333u);
    // A machine's worth of years in ticks must not overflow on the way.
    EXPECT_EQ(platform::posix::TicksToFileTimeUnits(100'000'000'000'000, 100),
              10'000'000'000'000'000'000u);
}

TEST(PlatformTimes, ProcessorTimesMoveForwardWithWork) {
    FILETIME idle1, kernel1, user1, idle2, kernel2, user2, unused, procKernel1, procUser1,
        procKernel2, procUser2;
    ASSERT_TRUE(GetSystemTimes(&idle1, &kernel1, &user1));
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &unused, &unused, &procKernel1, &procUser1));
    EXPECT_GE(Units(kernel1), Units(idle1));  // the kernel time includes the idle time

    // Work until the clock-tick based counters move; a generous bound only stops a broken run.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    volatile std::uint64_t sink = 0;
    do {
        for (int i = 0; i < 1'000'000; ++i) sink = sink + i;
        ASSERT_TRUE(
            GetProcessTimes(GetCurrentProcess(), &unused, &unused, &procKernel2, &procUser2));
        ASSERT_TRUE(GetSystemTimes(&idle2, &kernel2, &user2));
    } while ((Units(procUser2) == Units(procUser1) ||
              Units(kernel2) + Units(user2) == Units(kernel1) + Units(user1)) &&
             std::chrono::steady_clock::now() < giveUp);
    EXPECT_GT(Units(procUser2) + Units(procKernel2), Units(procUser1) + Units(procKernel1));
    EXPECT_GT(Units(kernel2) + Units(user2), Units(kernel1) + Units(user1));
    EXPECT_GE(Units(idle2), Units(idle1));

    EXPECT_FALSE(GetProcessTimes(nullptr, &unused, &unused, &procKernel2, &procUser2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(GetSystemTimes(nullptr, nullptr, nullptr));
}

TEST(PlatformTimes, ClocksUseWindowsEpochAndUnits) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto unixSeconds = static_cast<std::int64_t>(Units(now) / 10'000'000) - 11644473600LL;
    EXPECT_NEAR(static_cast<double>(unixSeconds), static_cast<double>(std::time(nullptr)), 5.0);

    const DWORD before = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(GetTickCount() - before, 59u);
}

TEST(PlatformDebugOutput, TextsAppendAsLinesToTheChosenFile) {
    TempDir dir;
    const std::string path = dir.File("debug.txt");
    {
        ScopedEnv unset{"ZEMUSER_DEBUG_OUTPUT", ""};
        OutputDebugStringA("nowhere");
    }
    ScopedEnv target{"ZEMUSER_DEBUG_OUTPUT", path};
    SetLastError(12029);
    OutputDebugStringA("first");
    OutputDebugStringA("second\r\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("");
    EXPECT_EQ(GetLastError(), 12029u);  // failure reports read it after writing a line
    EXPECT_EQ(ReadFileBytes(path), "first\nsecond\r\n");

    // Concurrent texts stay whole.
    std::remove(path.c_str());
    const std::string line(300, 'z');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) OutputDebugStringA(line.c_str());
        });
    }
    for (auto& writer : writers) writer.join();
    std::istringstream lines(ReadFileBytes(path));
    int count = 0;
    for (std::string read; std::getline(lines, read); ++count) ASSERT_EQ(read, line);
    EXPECT_EQ(count, 400);
}

TEST(PlatformHeap, BlocksAreUniqueAndZeroedOnRequest) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(zeroed[i], 0);
    void* empty1 = HeapAlloc(heap, 0, 0);
    void* empty2 = HeapAlloc(heap, 0, 0);
    EXPECT_NE(empty1, nullptr);
    EXPECT_NE(empty1, empty2);
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_TRUE(HeapFree(heap, 0, empty1));
    EXPECT_TRUE(HeapFree(heap, 0, empty2));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

TEST(PlatformThreads, LastErrorIsPerThread) {
    SetLastError(5);
    DWORD seenByOther = 99;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(7);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(PlatformThreads, CriticalSectionIsRecursiveAndExcludesOthers) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner may enter again
    std::atomic<bool> otherEntered{false};
    std::thread other([&] {
        EnterCriticalSection(&section);
        otherEntered = true;
        LeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherEntered);
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherEntered);  // still held once
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(otherEntered);
    DeleteCriticalSection(&section);
    EXPECT_EQ(section.impl, nullptr);
}

}  // namespace

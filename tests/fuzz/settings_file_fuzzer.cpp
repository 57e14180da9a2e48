// The settings store on any file content left by someone else: opening and reading never
// crash, values written are read back after the key was opened afresh, and a file nobody wrote
// to is left exactly as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "platform/system.h"

namespace {

using namespace zemuser;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

const testing_support::TempDir store;
const bool configured = setenv("ZEMUSER_SETTINGS_DIR", store.path().c_str(), 1) == 0;
const std::string keyFile = store.File("HKEY_CURRENT_USER/Software/Fuzz.reg");

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// Names a value line can hold: printable, no quote or backslash.
std::string ValueName(FuzzedDataProvider& in) {
    std::string name;
    for (auto length = in.ConsumeIntegralInRange<std::size_t>(1, 12); length > 0; --length) {
        const char c = in.ConsumeIntegralInRange<char>(' ', '~');
        name += (c == '"' || c == '\\') ? '_' : c;
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(configured);
    FuzzedDataProvider in(data, size);
    std::filesystem::create_directories(store.File("HKEY_CURRENT_USER/Software"));
    const std::string before = in.ConsumeRandomLengthString(2000);
    WriteFileBytes(keyFile, before);

    std::map<std::string, std::uint32_t> written;  // by lower-case name: names match so
    {
        auto key = platform::OpenUserSettingsKey("Software\\Fuzz");
        FUZZ_CHECK(key != nullptr);
        std::uint32_t value = 0;
        key->ReadNumber(ValueName(in).c_str(), &value);  // whatever the file holds
        for (int writes = in.ConsumeIntegralInRange(0, 4); writes > 0; --writes) {
            const std::string name = ValueName(in);
            const auto number = in.ConsumeIntegral<std::uint32_t>();
            key->WriteNumber(name.c_str(), number);
            written[Lower(name)] = number;
        }
    }
    auto key = platform::OpenUserSettingsKey("Software\\Fuzz");
    FUZZ_CHECK(key != nullptr);
    for (const auto& [name, number] : written) {
        std::uint32_t value = 0;
        FUZZ_CHECK(key->ReadNumber(name.c_str(), &value));
        FUZZ_CHECK(value == number);
    }
    key.reset();
    FUZZ_CHECK(!written.empty() || ReadFileBytes(keyFile) == before);
    return 0;
}

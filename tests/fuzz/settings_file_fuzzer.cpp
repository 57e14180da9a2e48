// The settings store on any file content left by someone else: opening and reading never
// crash, values written are read back after the file was read afresh, and a file none of whose
// values were written is left exactly as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <filesystem>
#include <map>

#include "fuzz_support.h"
#include "platform/system.h"

namespace {

const testing_support::TempDir store;

// Names a value line can hold: printable, no quote or backslash.
std::string ValueName(FuzzedDataProvider& in) {
    std::string name(in.ConsumeIntegralInRange(1, 12), ' ');
    for (char& c : name) c = in.ConsumeIntegralInRange<char>(' ', '~');
    for (char& c : name) c = c == '"' || c == '\\' ? '_' : c;
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setenv("ZEMUSER_SETTINGS_DIR", store.path().c_str(), 1);
    std::filesystem::create_directories(store.File("HKEY_CURRENT_USER/Software"));
    const std::string keyFile = store.File("HKEY_CURRENT_USER/Software/Fuzz.reg");
    FuzzedDataProvider in(data, size);
    const std::string before = in.ConsumeRandomLengthString(2000);
    testing_support::WriteFileBytes(keyFile, before);

    std::map<std::string, std::uint32_t> written;  // by lower-case name: names match so
    auto key = zemuser::platform::OpenUserSettingsKey("Software\\Fuzz");
    FUZZ_CHECK(key != nullptr);
    std::uint32_t value = 0;
    key->ReadNumber(ValueName(in).c_str(), &value);  // whatever the file holds
    for (int writes = in.ConsumeIntegralInRange(0, 4); writes > 0; --writes) {
        std::string name = ValueName(in);
        const auto number = in.ConsumeIntegral<std::uint32_t>();
        key->WriteNumber(name.c_str(), number);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        written[name] = number;
    }
    key.reset();  // closed, then the file read afresh
    key = zemuser::platform::OpenUserSettingsKey("Software\\Fuzz");
    FUZZ_CHECK(key != nullptr);
    for (const auto& [name, number] : written) {
        FUZZ_CHECK(key->ReadNumber(name.c_str(), &value) && value == number);
    }
    key.reset();
    if (written.empty()) FUZZ_CHECK(testing_support::ReadFileBytes(keyFile) == before);
    return 0;
}

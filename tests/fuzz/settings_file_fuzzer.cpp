// The settings store on any file content left by someone else: opening and reading never
// crash, values written are read back after the key was opened afresh, and a file nobody wrote
// to is left exactly as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <map>

#include "fuzz_support.h"
#include "platform/system.h"

namespace {

using namespace zemuser;
using namespace fuzz;

const TempDir store;
const bool configured = setenv("ZEMUSER_SETTINGS_DIR", store.path().c_str(), 1) == 0;
const std::string keyFile = store.File("HKEY_CURRENT_USER/Software/Fuzz.reg");

// Names a value line can hold: printable, no quote or backslash; and their lower case, under
// which names match.
std::pair<std::string, std::string> ValueName(FuzzedDataProvider& in) {
    std::string name, lower;
    for (auto length = in.ConsumeIntegralInRange<std::size_t>(1, 12); length > 0; --length) {
        const char c = in.ConsumeIntegralInRange<char>(' ', '~');
        name += (c == '"' || c == '\\') ? '_' : c;
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : name.back();
    }
    return {name, lower};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(configured);
    FuzzedDataProvider in(data, size);
    std::filesystem::create_directories(store.File("HKEY_CURRENT_USER/Software"));
    const std::string before = in.ConsumeRandomLengthString(2000);
    WriteFileBytes(keyFile, before);
    std::map<std::string, std::uint32_t> written;  // by lower-case name
    std::uint32_t value = 0;
    auto key = platform::OpenUserSettingsKey("Software\\Fuzz");
    FUZZ_CHECK(key != nullptr);
    key->ReadNumber(ValueName(in).first.c_str(), &value);  // whatever the file holds
    for (int writes = in.ConsumeIntegralInRange(0, 4); writes > 0; --writes) {
        const auto [name, lower] = ValueName(in);
        written[lower] = in.ConsumeIntegral<std::uint32_t>();
        key->WriteNumber(name.c_str(), written[lower]);
    }
    key.reset();  // closed, then opened afresh
    key = platform::OpenUserSettingsKey("Software\\Fuzz");
    FUZZ_CHECK(key != nullptr);
    for (const auto& [name, number] : written) {
        FUZZ_CHECK(key->ReadNumber(name.c_str(), &value) && value == number);
    }
    key.reset();
    FUZZ_CHECK(!written.empty() || ReadFileBytes(keyFile) == before);
    return 0;
}

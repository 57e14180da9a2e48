// The settings store on any file content left by someone else: opening and reading never
// crash, values written are read back (by this process and after the file was read afresh),
// and lines that name none of the written values survive the rewrite unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "fuzz_support.h"
#include "platform/system.h"

namespace {

using namespace zemuser;

constexpr char kKey[] = "Software\\Fuzz";

const fuzz::TempFolder& Store() {
    static const fuzz::TempFolder store("zemuser-fuzz-settings");
    return store;
}

std::string KeyFile() {
    return Store().File("HKEY_CURRENT_USER/Software/Fuzz.reg");
}

std::string Lower(std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

// Names a value line can hold: printable, no quote or backslash.
std::string ValueName(FuzzedDataProvider& in) {
    std::string name;
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, 12);
    for (std::size_t i = 0; i < length; ++i) {
        char c = in.ConsumeIntegralInRange<char>(' ', '~');
        name += (c == '"' || c == '\\') ? '_' : c;
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool configured = [] {
        setenv("ZEMUSER_SETTINGS_DIR", Store().Path().c_str(), 1);
        return true;
    }();
    (void)configured;
    FuzzedDataProvider in(data, size);
    std::filesystem::create_directories(Store().File("HKEY_CURRENT_USER/Software"));
    const std::string before = in.ConsumeRandomLengthString(2000);
    fuzz::WriteFileBytes(KeyFile(), before);

    std::map<std::string, std::uint32_t> written;  // by lower-case name: names match so
    {
        auto key = platform::OpenUserSettingsKey(kKey);
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
    auto key = platform::OpenUserSettingsKey(kKey);
    FUZZ_CHECK(key != nullptr);
    for (const auto& [name, number] : written) {
        std::uint32_t value = 0;
        FUZZ_CHECK(key->ReadNumber(name.c_str(), &value));
        FUZZ_CHECK(value == number);
    }
    key.reset();
    if (written.empty()) {
        // Nothing written: the file is left exactly as it was.
        FUZZ_CHECK(fuzz::ReadFileBytes(KeyFile()) == before);
    }
    return 0;
}

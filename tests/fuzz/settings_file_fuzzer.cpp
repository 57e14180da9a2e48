// The settings-store file parser on any file content: it reads without a crash, writes the
// text back unchanged, and writing values keeps them and every line that names none of them;
// once in memory and once through the registry calls on a real file.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/platform.h"
#include "platform/posix/settings_file.h"
#include "platform/posix/settings_location.h"

namespace {

using platform::posix::SettingsDocument;
using platform::posix::SettingsLine;

constexpr char kSubKey[] = "Software\\Fuzz";

fuzz::TempFolder& Store() {
    static fuzz::TempFolder store("zemuser-fuzz-settings");
    return store;
}

std::string KeyFile() {
    return Store().File("HKEY_CURRENT_USER/Software/Fuzz.reg");
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool SameLines(const SettingsDocument& a, const SettingsDocument& b) {
    return std::equal(a.lines().begin(), a.lines().end(), b.lines().begin(), b.lines().end(),
                      [](const SettingsLine& x, const SettingsLine& y) {
                          return x.text == y.text && x.valueName == y.valueName &&
                                 x.dword == y.dword;
                      });
}

struct Write {
    std::string name;
    DWORD value;
};

// A name from the file in another mix of cases, or a new one.
std::string ChooseName(FuzzedDataProvider& in, const SettingsDocument& document) {
    std::vector<std::string> named;
    for (const SettingsLine& line : document.lines()) {
        if (line.valueName) named.push_back(*line.valueName);
    }
    if (named.empty() || in.ConsumeBool()) return fuzz::AsCText(in.ConsumeRandomLengthString(24));
    std::string name = named[in.ConsumeIntegralInRange<std::size_t>(0, named.size() - 1)];
    for (char& c : name) {
        if (in.ConsumeBool() && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

// The lines that name none of the written values, in order.
std::vector<std::string> UntouchedLines(const SettingsDocument& document,
                                        const std::map<std::string, DWORD>& written) {
    std::vector<std::string> lines;
    for (const SettingsLine& line : document.lines()) {
        if (!line.valueName || written.count(LowerAscii(*line.valueName)) == 0) {
            lines.push_back(line.text);
        }
    }
    return lines;
}

void CheckReadBack(const SettingsDocument& original, const SettingsDocument& rewritten,
                   const std::map<std::string, DWORD>& written) {
    for (const auto& [name, value] : written) FUZZ_CHECK(rewritten.FindDword(name) == value);
    FUZZ_CHECK(UntouchedLines(original, written) == UntouchedLines(rewritten, written));
}

void CheckSubKey(const std::string& subKey) {
    std::string keyPath = "HKEY_CURRENT_USER";
    if (!platform::posix::AppendSubKey(keyPath, subKey)) {
        FUZZ_CHECK(keyPath == "HKEY_CURRENT_USER");
        return;
    }
    // Only whole, plain folder names below the root.
    std::string_view rest(keyPath);
    rest.remove_prefix(std::string_view("HKEY_CURRENT_USER").size());
    while (!rest.empty()) {
        FUZZ_CHECK(rest.front() == '/');
        rest.remove_prefix(1);
        const std::string_view segment = rest.substr(0, rest.find('/'));
        FUZZ_CHECK(!segment.empty() && segment != "." && segment != "..");
        rest.remove_prefix(segment.size());
    }
}

void CheckThroughRegistry(const std::string& text, const SettingsDocument& expected,
                          const std::vector<Write>& writes) {
    std::filesystem::create_directories(Store().File("HKEY_CURRENT_USER/Software"));
    fuzz::WriteFileBytes(KeyFile(), text);
    HKEY key = nullptr;
    FUZZ_CHECK(RegOpenKeyExA(HKEY_CURRENT_USER, kSubKey, 0, KEY_READ | KEY_WRITE, &key) ==
               ERROR_SUCCESS);
    for (const Write& write : writes) {
        const LSTATUS status =
            RegSetValueExA(key, write.name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&write.value), sizeof(write.value));
        FUZZ_CHECK(status == ERROR_SUCCESS);
    }
    for (const Write& write : writes) {
        DWORD type = 0, value = 0, size = sizeof(value);
        FUZZ_CHECK(RegQueryValueExA(key, write.name.c_str(), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS);
        FUZZ_CHECK(type == REG_DWORD && size == sizeof(DWORD));
        FUZZ_CHECK(expected.FindDword(write.name) == value);
    }
    // A name that cannot stand on one line is refused and leaves the file alone.
    const std::string before = fuzz::ReadFileBytes(KeyFile());
    const DWORD one = 1;
    FUZZ_CHECK(RegSetValueExA(key, "two\nlines", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                              sizeof(one)) == ERROR_INVALID_PARAMETER);
    FUZZ_CHECK(fuzz::ReadFileBytes(KeyFile()) == before);
    FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
    // Unchanged text is not rewritten, so only the parse is compared.
    FUZZ_CHECK(SameLines(SettingsDocument::Parse(before), expected));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setenv("ZEMUSER_SETTINGS_DIR", Store().Path().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    CheckSubKey(fuzz::AsCText(in.ConsumeRandomLengthString(40)));
    const int writeCount = in.ConsumeIntegralInRange(0, 4);
    const std::vector<std::uint8_t> choices = in.ConsumeBytes<std::uint8_t>(64);
    const std::string text = in.ConsumeRemainingBytesAsString();

    const SettingsDocument original = SettingsDocument::Parse(text);
    const std::string serialized = original.Serialize();
    const bool endsLine = text.empty() || text.back() == '\n';
    FUZZ_CHECK(serialized == (endsLine ? text : text + "\n"));
    FUZZ_CHECK(SameLines(SettingsDocument::Parse(serialized), original));

    FuzzedDataProvider choose(choices.data(), choices.size());
    SettingsDocument document = original;
    std::vector<Write> writes;
    std::map<std::string, DWORD> written;  // by the lower-case name, last write wins
    for (int i = 0; i < writeCount; ++i) {
        std::string name = ChooseName(choose, document);
        if (!platform::posix::IsStorableValueName(name)) continue;
        const DWORD value = choose.ConsumeIntegral<DWORD>();
        document.SetDword(name, value);
        writes.push_back({name, value});
        written[LowerAscii(name)] = value;
    }
    const SettingsDocument reread = SettingsDocument::Parse(document.Serialize());
    FUZZ_CHECK(SameLines(reread, document));
    CheckReadBack(original, reread, written);
    CheckThroughRegistry(text, reread, writes);
    return 0;
}

// Content-Disposition parsing and the cleaning of announced names, on any header a server may
// send: the name handed out, and the file name joined to a folder, never hold a separator or
// a control character, are never "." or "..", and the joined path stays inside the folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/download_file_name.h"
#include "api/local_path.h"
#include "fuzz_support.h"
#include "platform/system.h"

namespace {

using namespace zemuser;

// The size a header is queried with; longer headers never reach the parser.
constexpr std::size_t kHeaderOffered = 2056;
constexpr char kFolder[] = "/srv/downloads";

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// A name that may be placed inside a folder as one plain file name.
void CheckPlainFileName(const std::string& name) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find_first_of("/\\") == std::string::npos);
    FUZZ_CHECK(!HasControlCharacter(name));
    FUZZ_CHECK(name.front() != '.');  // neither hidden nor "." or ".."
}

// The folder part of a joined path is the folder exactly, and what follows is one plain name.
void CheckStaysInside(const std::string& joined, const std::string& folder) {
    const std::string prefix = folder + zemuser::platform::PathSeparator();
    FUZZ_CHECK(joined.compare(0, prefix.size(), prefix) == 0);
    CheckPlainFileName(joined.substr(prefix.size()));
}

void CheckCleanName(const std::string& announced) {
    const std::string name = CleanAnnouncedName(announced);
    if (name.empty()) return;  // the caller stores the body as "unknown" then
    CheckPlainFileName(name);

    const std::string joined = std::string(kFolder) + zemuser::platform::PathSeparator() + name;
    CheckStaysInside(joined, kFolder);
    // The joins the download uses: narrow, and wide through the narrow code page.
    FUZZ_CHECK(LocalPath::Narrow(kFolder).Join(name).ForTrace() == joined);
    const zemuser::platform::WideString wideFolder(u"/srv/downloads");
    CheckStaysInside(LocalPath::Wide(wideFolder.c_str()).Join(name).ForTrace(), kFolder);
}

void CheckParsedName(const std::string& header, const std::string& parsed) {
    if (parsed.empty()) return;
    FUZZ_CHECK(header.find(';') != std::string::npos);
    FUZZ_CHECK(header.find(parsed) != std::string::npos);
    FUZZ_CHECK(parsed.front() != '"' && parsed.back() != '"');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // As the header arrives from the query: zero-terminated, cut at the offered size.
    std::string header = fuzz::AsCText(bytes);
    if (header.size() > kHeaderOffered) header.resize(kHeaderOffered);

    const std::string parsed = ParseDispositionFileName(header);
    CheckParsedName(header, parsed);
    CheckCleanName(parsed);
    // The cleaning alone, on raw bytes with zero bytes in them.
    CheckCleanName(bytes);
    return 0;
}

// Content-Disposition parsing and the cleaning of announced names, on any header a server may
// send: the name handed out, and the file name joined to a folder, never hold a separator or a
// control character, never start with a dot, and the joined path stays inside the folder.
#include <algorithm>

#include "api/download_file_name.h"
#include "api/local_path.h"
#include "fuzz_support.h"
#include "platform/system.h"

namespace {

using namespace zemuser;

constexpr std::size_t kHeaderOffered = 2056;  // the size a header is queried with
constexpr char kFolder[] = "/srv/downloads";

// One plain file name: no separator, no control character, neither hidden nor "." or "..".
void CheckPlainFileName(const std::string& name) {
    FUZZ_CHECK(!name.empty() && name.front() != '.');
    FUZZ_CHECK(name.find_first_of("/\\") == std::string::npos);
    FUZZ_CHECK(std::none_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    }));
}

// The joins the download uses, narrow and wide (through the narrow code page): the folder
// exactly, then one plain file name. An empty name stores the body as "unknown".
void CheckCleanName(const std::string& announced) {
    const std::string name = CleanAnnouncedName(announced);
    if (name.empty()) return;
    CheckPlainFileName(name);
    const std::string prefix = std::string(kFolder) + platform::PathSeparator();
    FUZZ_CHECK(LocalPath::Narrow(kFolder).Join(name).ForTrace() == prefix + name);
    const std::string wide = LocalPath::Wide(u"/srv/downloads").Join(name).ForTrace();
    FUZZ_CHECK(wide.compare(0, prefix.size(), prefix) == 0);
    CheckPlainFileName(wide.substr(prefix.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // As the header arrives from the query: zero-terminated, cut at the offered size; then the
    // cleaning alone, on raw bytes with zero bytes in them.
    CheckCleanName(
        ParseDispositionFileName(fuzz::AsCText(fuzz::Bytes(data, size)).substr(0, kHeaderOffered)));
    CheckCleanName(fuzz::Bytes(data, size));
    return 0;
}

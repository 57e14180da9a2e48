// The head of an HTTP response, collected line by line as it arrives, and the lookups that
// header queries make on it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::internet {

struct ResponseHead {
    int status = 0;
    std::string statusText;
    std::string raw;  // status line and header lines, each ending in CR LF, then CR LF
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the `index`-th header of the name, or null.
    const std::string* Find(std::string_view name, std::size_t index = 0) const;
};

class HeadReader {
  public:
    enum class Step { More, Complete, Invalid };

    // Feeds one line as the transfer library delivers it (CR LF included).
    Step Feed(std::string_view line);
    // The head just completed; the reader starts over.
    ResponseHead Take();

  private:
    ResponseHead head_;
    bool haveStatus_ = false;
    std::size_t bytes_ = 0;
};

}  // namespace platform::internet

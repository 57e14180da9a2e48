// A request's own header lines in order, the rules by which added lines meet them, and the
// lines handed to the transfer library for one send.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_transport.h"

namespace zemuser::platform::http {

struct HeaderField {
    std::string name;
    std::string value;
};

class HeaderList {
  public:
    // Applies every "Name: value" line of `text`. All lines apply or none: kNoError, or the
    // code of the first line that cannot be applied.
    ErrorCode Apply(std::string_view text, HeaderMode mode);

    const std::vector<HeaderField>& fields() const { return fields_; }
    const HeaderField* Find(std::string_view name) const;
    void RemoveAll(std::string_view name);
    void Append(std::string name, std::string value) {
        fields_.push_back({std::move(name), std::move(value)});
    }

  private:
    ErrorCode ApplyOne(const HeaderField& field, HeaderMode mode);

    std::vector<HeaderField> fields_;
};

// Everything the library sends after its own Host line (and the cookies of its jar), in order.
struct OutgoingHead {
    const HeaderList* headers = nullptr;
    std::string agent;
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
    bool keepConnection = false;
};
std::vector<std::string> LibraryHeaderLines(const OutgoingHead& head);

// The object name made fit for the request line: control characters and spaces escaped, and a
// "/" in front of what is neither a path, "*" nor an absolute URL.
std::string RequestTarget(std::string_view objectName);

}  // namespace zemuser::platform::http

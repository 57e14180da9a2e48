// The ordered list of request headers and the add/replace modifiers that change it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/windows_types.h"

namespace platform::internet {

struct HeaderField {
    std::string name;
    std::string value;
};

class RequestHeaders {
  public:
    // Applies every "Name: value" line of `text` with `modifiers`. All lines apply or none:
    // returns 0, or the error code of the first line that cannot be applied.
    DWORD Apply(std::string_view text, DWORD modifiers);

    const std::vector<HeaderField>& fields() const { return fields_; }
    const HeaderField* Find(std::string_view name) const;
    void RemoveAll(std::string_view name);
    void Append(std::string name, std::string value);

  private:
    DWORD ApplyOne(const HeaderField& field, DWORD modifiers);
    std::vector<HeaderField>::iterator FindFirst(std::string_view name);

    std::vector<HeaderField> fields_;
};

// One header line parsed; nullopt when the name is not a token or the value holds control
// characters (which could otherwise split the request).
std::optional<HeaderField> ParseHeaderLine(std::string_view line);

}  // namespace platform::internet

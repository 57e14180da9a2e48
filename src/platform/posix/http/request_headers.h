// A request's own header lines in order, the rules by which added lines meet them, and the
// lines handed to the transfer library for one send.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_transport.h"

namespace zemuser::platform::http {

class HeaderList {
  public:
    // Applies every "Name: value" line of `text`. All lines apply or none: kNoError, or the
    // code of the first line that cannot be applied.
    ErrorCode Apply(std::string_view text, HeaderMode mode);
    void Append(std::string name, std::string value) {
        fields_.push_back({std::move(name), std::move(value)});
    }
    void RemoveAll(std::string_view name);

    // Everything the library sends after its own Host line (and the cookies of its jar), in
    // order; `hasBody` adds the body's length.
    std::vector<std::string> LibraryLines(const std::string& agent, bool hasBody,
                                          std::uint64_t bodyLength, bool keepConnection) const;

  private:
    struct Field {
        std::string name;
        std::string value;
    };
    bool Has(std::string_view name) const;
    ErrorCode ApplyOne(const Field& field, HeaderMode mode);

    std::vector<Field> fields_;
};

}  // namespace zemuser::platform::http

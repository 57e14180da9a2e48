#include "access_token.h"

#include <cctype>
#include <fstream>
#include <stdexcept>

namespace {

constexpr char kBearerScheme[] = "bearer ";

bool IsUnreservedUrlCharacter(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// The credentials of an "Authorization: Bearer <token>" header, "" when there is none.
std::string BearerToken(const httplib::Request& request) {
    const std::string value = request.get_header_value("Authorization");
    const std::size_t schemeLength = sizeof kBearerScheme - 1;
    if (value.size() <= schemeLength) return "";
    for (std::size_t i = 0; i < schemeLength; ++i) {
        if (std::tolower(static_cast<unsigned char>(value[i])) != kBearerScheme[i]) return "";
    }
    const std::size_t start = value.find_first_not_of(' ', schemeLength);
    return start == std::string::npos ? "" : value.substr(start);
}

}  // namespace

bool AccessToken::Admits(const httplib::Request& request) const {
    if (!required()) return true;
    return Matches(request.get_param_value("token")) || Matches(BearerToken(request));
}

// Takes as long for every presented token of one length, so that timing does not tell how
// much of a guess was right.
bool AccessToken::Matches(const std::string& presented) const {
    unsigned char difference = presented.size() == secret_.size() ? 0 : 1;
    for (std::size_t i = 0; i < presented.size(); ++i) {
        difference |= static_cast<unsigned char>(presented[i] ^ secret_[i % secret_.size()]);
    }
    return difference == 0;
}

std::string TokenProblem(const std::string& token) {
    if (token.empty()) return "the token is empty";
    for (unsigned char c : token) {
        if (!IsUnreservedUrlCharacter(c)) {
            return "the token may hold only letters, digits and - . _ ~";
        }
    }
    return "";
}

std::string ReadTokenFile(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        throw std::runtime_error("cannot read the token from " + path);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Splits a host's URL into the pieces a connection and a request need, through the internet
// interface's canonicalisation and cracking.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Fills service code, host, object path (query included) and port; non-zero on success.
BOOL SplitUrl(const char* url, std::uint32_t* serviceCode, std::string* host, std::string* path,
              std::uint16_t* port);

BOOL CrackCanonicalUrl(const char* url, URL_COMPONENTSA* components, std::uint32_t* serviceCode,
                       std::uint16_t* port);

// The service code for a scheme number of the cracker.
std::uint32_t ServiceCodeForScheme(INTERNET_SCHEME scheme);

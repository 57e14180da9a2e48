// What one client may make the service hold: in memory while a request is read, and on disk
// after it. Every limit has a command-line option; the defaults suit a service that a few
// conferences share.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint64_t kMebibyte = std::uint64_t{1} << 20;

struct ServiceLimits {
    // The whole request body; larger ones are refused before they are read. Room for the
    // largest upload and the form around it.
    std::uint64_t requestBytes = 1024 * kMebibyte + kMebibyte;
    std::size_t formParts = 32;     // fields of one form, the file included
    std::size_t fieldBytes = 8192;  // one field's name, and one text field's value
    std::uint64_t uploadBytes = 1024 * kMebibyte;
    std::size_t sessions = 1000;                 // session folders under the root
    std::uint64_t diskBytes = 8192 * kMebibyte;  // all stored files together
};

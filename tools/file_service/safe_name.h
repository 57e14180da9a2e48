// Names that clients choose (session identifiers, file names) become folder and file names
// under the service's root, so only plain names that stay where they are put are accepted.
#pragma once

#include <string>

// Not empty, not "." or "..", at most 255 bytes, and without "/", "\", NUL or control
// characters.
bool IsSafeName(const std::string& name);

// The part of a client's path after its last "/" or "\" (clients send their local path).
std::string BaseName(const std::string& path);

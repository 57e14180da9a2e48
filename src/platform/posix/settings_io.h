// Reading and rewriting settings files. Every access holds a lock on a file beside the
// settings file (<file>.lock): shared for reading, exclusive for a read-modify-write, so that
// a reader never sees half a rewrite and concurrent writers of different values lose neither.
// The file is rewritten in place rather than replaced through a renamed temporary file,
// because ext4 flushes the data of a file renamed over another, which costs milliseconds.
// Results are registry status codes.
#pragma once

#include <functional>
#include <string>

#include "platform/posix/windows_types.h"

namespace platform::posix {

// The registry's code for a store it cannot make sense of (here: a file too large to be one).
constexpr LONG ERROR_BADDB = 1009;

// The whole file; ERROR_FILE_NOT_FOUND when it (or its folder) does not exist.
LONG ReadSettingsText(const std::string& path, std::string& text);

// Creates the folders and the file as needed, then, holding the exclusive lock, applies
// `update` to the file's text and writes the result back. Nothing is written when the text
// does not change. No fsync: a write must cost well under a millisecond.
LONG UpdateSettingsFile(const std::string& path, const std::function<void(std::string&)>& update);

}  // namespace platform::posix

// The one header through which the engine reaches the operating system. The engine calls the
// Windows interfaces by their own names; on Windows they are the real ones, elsewhere this
// folder supplies them. Nothing outside src/platform/ knows which of the two it runs on.
#pragma once

#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <wininet.h>
#else
#include "platform/posix/kernel32.h"
#include "platform/posix/wininet.h"
#endif

namespace platform {

// Wide text as the platform's wide interfaces take it (UTF-16 code units).
using WideString = std::basic_string<WCHAR>;

// The separator placed between a folder and a file name.
const char* PathSeparator();
const WCHAR* WidePathSeparator();

// True for a character that is dropped from a file name a server announces, besides the
// control characters and the folder separators that every platform drops (a drive or stream
// separator, say).
bool IsDroppedFileNameCharacter(char c);

// True when a bare file name may not be used on this platform (a reserved device name, say);
// such a name is replaced before it is joined to a folder.
bool IsUnusableFileName(const std::string& name);

}  // namespace platform

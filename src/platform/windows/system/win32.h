// The Windows headers, less the macros that would rename the seam's own functions.
#pragma once

#include <windows.h>

#undef DeleteFile

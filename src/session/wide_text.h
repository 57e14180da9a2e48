// Wide (UTF-16) text turned into narrow UTF-8 text, for trace lines and file names.
#pragma once

#include <string>

#include "platform/platform.h"

std::string NarrowFromWide(const WCHAR* wide);
platform::WideString WideFromNarrow(const char* narrow);

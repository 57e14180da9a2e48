// There is no desktop here; the value only has to be a window handle that is not null.
#include "platform/posix/kernel32.h"

namespace {

char desktopWindow;

}  // namespace

HWND GetDesktopWindow() {
    return &desktopWindow;
}

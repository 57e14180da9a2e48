// Where the CPU usage meter gets its clocks and processor times. The library uses the
// platform's own functions; tests put in clocks of their own to drive exact numbers.
#pragma once

#include "platform/platform.h"

struct CpuTimeSources {
    // The type of the address found at run time, with the platform's calling convention.
    using GetSystemTimesFunction = decltype(&GetSystemTimes);
    using GetProcessTimesFunction = BOOL (*)(HANDLE process, FILETIME* creation, FILETIME* exit,
                                             FILETIME* kernel, FILETIME* user);

    HMODULE (*loadLibrary)(LPCSTR fileName);
    FARPROC (*getProcAddress)(HMODULE module, LPCSTR procName);
    BOOL (*freeLibrary)(HMODULE module);
    DWORD (*getTickCount)();
    void (*getSystemTimeAsFileTime)(FILETIME* systemTime);
    GetProcessTimesFunction getProcessTimes;
    HANDLE (*getCurrentProcess)();

    // The platform's functions, each behind a plain function so that the pointers above do
    // not depend on the platform's calling convention.
    static CpuTimeSources Platform() {
        return {
            [](LPCSTR fileName) { return LoadLibraryA(fileName); },
            [](HMODULE module, LPCSTR procName) { return GetProcAddress(module, procName); },
            [](HMODULE module) { return FreeLibrary(module); },
            [] { return GetTickCount(); },
            [](FILETIME* systemTime) { GetSystemTimeAsFileTime(systemTime); },
            [](HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel,
               FILETIME* user) { return GetProcessTimes(process, creation, exit, kernel, user); },
            [] { return GetCurrentProcess(); },
        };
    }
};

// The kernel, registry and window functions that the engine takes from the operating system,
// supplied on POSIX by this folder with the results the engine relies on.
#pragma once

#include <cstdarg>

#include "platform/posix/windows_types.h"

// Files. Narrow paths are used as the bytes given (UTF-8 by convention); wide paths are
// UTF-16 and are converted to UTF-8.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED* overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD GetFileAttributesA(LPCSTR path);
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileA(LPCSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL CloseHandle(HANDLE handle);

// Process heap.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Last error, per thread.
DWORD GetLastError();
void SetLastError(DWORD code);

// Critical sections: recursive, as on Windows.
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// Debugger output: appended to the file named by ZEMUSER_DEBUG_OUTPUT ("-" is standard
// error); nowhere when it is unset.
void OutputDebugStringA(LPCSTR text);

// Message texts. GetModuleHandleA("wininet.dll") names the internet layer's message table.
HMODULE GetModuleHandleA(LPCSTR moduleName);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);

// Code pages: 65001 and the narrow (ANSI) code page are both UTF-8 here. Ill-formed UTF-16
// becomes U+FFFD.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowLength, LPWSTR wide,
                        int wideSize);

// Modules: only "Kernel32.dll" and its "GetSystemTimes" are known.
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

// Times, in the units of Windows: FILETIME counts 100 ns, GetTickCount milliseconds.
BOOL GetSystemTimes(FILETIME* idleTime, FILETIME* kernelTime, FILETIME* userTime);
BOOL GetProcessTimes(HANDLE process, FILETIME* creationTime, FILETIME* exitTime,
                     FILETIME* kernelTime, FILETIME* userTime);
HANDLE GetCurrentProcess();
void GetSystemTimeAsFileTime(FILETIME* systemTime);
DWORD GetTickCount();

// Windows: there is no desktop here; the value only owns the (cancelled) error dialogs.
HWND GetDesktopWindow();

// Registry: a per-user settings store of files (see settings_store.cpp).
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                         LPDWORD dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegCloseKey(HKEY key);

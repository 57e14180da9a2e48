#!/usr/bin/env bash
# The engine speaks the library's own words: no Windows type or function name may appear
# outside src/platform/ (the Windows backend is the one place that names them). Exits 1 and
# lists the lines when one does.
set -euo pipefail
cd "$(dirname "$0")/.."

types='HINTERNET|HANDLE|HMODULE|HKEY|HWND|DWORD|BOOL|BYTE|WORD|UINT|LONG|WCHAR|LPCSTR|LPSTR|LPVOID|LPCVOID|LPDWORD|FARPROC|FILETIME|INTERNET_PORT|INTERNET_SCHEME|URL_COMPONENTSA|INTERNET_BUFFERSA|CRITICAL_SECTION'
functions='CreateFile[AW]?|ReadFile|WriteFile|CloseHandle|DeleteFile[AW]?|GetFileAttributes[AW]?|GetFileSize|HeapAlloc|HeapFree|GetProcessHeap|Reg(Open|Query|Set|Close)[A-Za-z]*|Internet(Open|Connect|CloseHandle|ReadFile|WriteFile|SetOption|QueryOption|ErrorDlg|SetCookie|CanonicalizeUrl|CrackUrl|AttemptConnect)[AW]?|Http(OpenRequest|AddRequestHeaders|SendRequest|SendRequestEx|EndRequest|QueryInfo)[AW]?|FormatMessage[AW]?|LocalFree|GetModuleHandle[AW]?|LoadLibrary[AW]?|GetProcAddress|FreeLibrary|GetTickCount|GetSystemTimes|GetProcessTimes|GetSystemTimeAsFileTime|GetCurrentProcess|OutputDebugString[AW]?|GetLastError|SetLastError|WideCharToMultiByte|MultiByteToWideChar|GetDesktopWindow|(Initialize|Enter|Leave|Delete)CriticalSection'

# tests/windows runs on Windows itself (under Wine) and checks what the system saw.
files=$(git ls-files -- src include tools tests bench examples | grep -E '\.(c|cc|cpp|h|hpp)$' |
        grep -v -e '^src/platform/' -e '^tests/windows/' || true)
found=$(grep -nwE "$types|$functions" $files || true)
if [[ -n "$found" ]]; then
    echo "Windows names outside src/platform/:"
    echo "$found"
    exit 1
fi
echo "no Windows type or function name outside src/platform/ ($(wc -w <<< "$files") files)"

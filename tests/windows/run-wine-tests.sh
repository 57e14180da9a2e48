#!/usr/bin/env bash
# Cross-builds zemuser.dll for i686 and x86_64 and checks their exports and imports; starts a
# self-signed HTTPS server (openssl s_server) on 127.0.0.1; runs the test program (tests/api's
# export tables, with their own scripted servers, and the Windows-only rows) under Wine, then its
# settings test again, to find the HTTP/1.1 settings restored. Arguments go to the test program.
# ZEMUSER_SKIP_WINE=1 skips; ZEMUSER_WINE_BUILD, ZEMUSER_WINE_PREFIX choose the folders.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${ZEMUSER_WINE_BUILD:-$repo/build-wine}
say() { echo "run-wine-tests: [$SECONDS s] $*"; }

if [[ ${ZEMUSER_SKIP_WINE:-} == 1 ]]; then say "skipped: ZEMUSER_SKIP_WINE=1"; exit 0; fi
for tool in wine wineserver {x86_64,i686}-w64-mingw32-g++-posix openssl; do
    command -v $tool > /dev/null ||
        { say "FAILED: $tool is missing (scripts/install-deps.sh windows)" && exit 1; }
done
failed=0  # check <description> <command...>
check() { if "${@:2}"; then say "ok: $1"; else failed=1 && say "FAILED: $1"; fi; }
abort() { say "FAILED: $*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zemuser-wine.XXXXXX")
pids=()
export WINEPREFIX=${ZEMUSER_WINE_PREFIX:-$work/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_all() { kill "${pids[@]}" 2> /dev/null; wait; wineserver -k 2> /dev/null; rm -rf "$work"; }
trap 'stop_all || true' EXIT
mkdir -p "$WINEPREFIX" "$work/https"
wine wineboot.exe -i > "$work/wineboot.log" 2>&1 & pids+=($!)  # a minute, while the builds run

build() {  # <folder> <targets> <configure arguments...>
    { cmake "${@:3}" -B "$1" ${ZEMUSER_WERROR:+-DZEMUSER_WERROR=$ZEMUSER_WERROR} &&
        cmake --build "$1" -j 2 --target $2; } > "$work/build.log" 2>&1 ||
        { cat "$work/build.log"; abort "the build in $1 failed"; }
}
say "building zemuser.dll (i686), the x86_64 DLL with the test program"
build "$build/i686" zemuser -S "$repo" --preset mingw-i686
build "$build/x86_64" "zemuser zemuser_wine_tests" -S "$here" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake"
tests=$build/x86_64/bin/zemuser_wine_tests.exe

exports_match() {  # <objdump> <dll> <the build's export list>
    diff <(sort "$3") <("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
}
imports_are_system_dlls() {  # <objdump> <dll>
    ! "$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | grep -v -i -x -E \
        'KERNEL32.DLL|WININET.DLL|ADVAPI32.DLL|USER32.DLL|MSVCRT.DLL|UCRTBASE.DLL|API-MS-WIN-CRT-.*'
}
for dll in i686/zemuser.dll:i686/zemuser.exports x86_64/bin/zemuser.dll:x86_64/zemuser/zemuser.exports; do
    arch=${dll%%/*} exports=$build/${dll#*:} dll=$build/${dll%:*}
    check "$arch zemuser.dll exports exactly the eighteen names" \
        exports_match "$arch-w64-mingw32-objdump" "$dll" "$exports"
    check "$arch zemuser.dll imports only system DLLs" \
        imports_are_system_dlls "$arch-w64-mingw32-objdump" "$dll"
done

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
    -keyout "$work/key.pem" -out "$work/cert.pem" > /dev/null 2>&1
printf 'HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\narrived' > "$work/https/start"  # served whole
(cd "$work/https" && exec openssl s_server -accept 127.0.0.1:0 -cert "$work/cert.pem" \
    -key "$work/key.pem" -HTTP) > "$work/https.out" 2>&1 & pids+=($!)
for _ in {1..200}; do line=$(grep -m 1 ^ACCEPT "$work/https.out") && break || sleep 0.1; done
[[ -n ${line:-} ]] || { cat "$work/https.out"; abort "the HTTPS server did not start"; }
export ZEMUSER_WINE_HTTPS=https://${line#ACCEPT }

say "waiting for the Wine prefix"
wait "${pids[0]}" || { cat "$work/wineboot.log"; abort "wineboot failed"; }
wineserver -w
for value in EnableHttp1_1 ProxyHttp1.1; do  # the user's settings as the settings test expects
    wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings' \
        /v $value /t REG_DWORD /d 1 /f > /dev/null 2>&1
done
check "the test program under Wine" timeout 300 wine "$tests" "$@"
wineserver -w
check "the user's HTTP/1.1 settings are back after the process" \
    timeout 120 wine "$tests" --gtest_filter='HttpSettingsOverride.*'
[[ $failed -eq 0 ]] && say "all passed"

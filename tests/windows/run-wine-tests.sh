#!/usr/bin/env bash
# The Windows build and its tests under Wine:
#   1. cross-builds zemuser.dll for i686 (the library's own target) and x86_64, and checks that
#      each exports exactly the eighteen names and imports only system DLLs;
#   2. cross-builds the x86_64 test program, and natively the reference file service;
#   3. starts nginx, the recording server and the file service on 127.0.0.1, and a throwaway
#      Wine prefix;
#   4. runs the test program under Wine, then checks that the library left the user's HTTP/1.1
#      settings as it found them once the process ended;
#   5. stops everything it started and prints "N passed, M failed".
# Exits 0 when all passed, 1 otherwise. A missing mingw-w64 or Wine is a failure; only
# ZEMUSER_SKIP_WINE=1 skips the run (exit 0), and only when asked for.
# Build folders: $ZEMUSER_WINE_BUILD (default build-wine/ in the repository); the DLLs are built
# with the presets mingw-i686 and (inside the test program's build) the toolchain of
# mingw-x86_64. Arguments are passed to the test program (--gtest_filter=..., say).
# ZEMUSER_FILE_SERVICE_BINARY names an already built zemuser-file-service; ZEMUSER_WINE_PREFIX
# a Wine prefix to reuse; ZEMUSER_WERROR=ON makes compiler warnings errors.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${ZEMUSER_WINE_BUILD:-$repo/build-wine}
jobs=${ZEMUSER_WINE_JOBS:-2}

started=$SECONDS
say() { echo "run-wine-tests: [$((SECONDS - started)) s] $*"; }

if [[ ${ZEMUSER_SKIP_WINE:-} == 1 ]]; then
    say "skipped: ZEMUSER_SKIP_WINE=1 is set, nothing was run"
    exit 0
fi
missing() {
    say "FAILED: $* (install with scripts/install-deps.sh windows, or skip on purpose with" \
        "ZEMUSER_SKIP_WINE=1)"
    exit 1
}
first_program() {  # prints the first of the candidates that can be run
    local candidate
    for candidate; do
        if command -v "$candidate" > /dev/null 2>&1; then command -v "$candidate"; return 0; fi
    done
    return 1
}
# Debian's wine64 package alone puts nothing on the PATH (the wine package holds the wrappers),
# so the loader and the server are also looked for where wine64 installs them. wineboot is a
# program of the prefix, run through the loader.
wine_command=$(first_program wine wine64 /usr/lib/wine/wine64) || missing "Wine not installed"
wineserver_command=$(first_program wineserver /usr/lib/wine/wineserver) ||
    missing "wineserver not installed"
for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    first_program "$tool" > /dev/null || missing "$tool not installed"
done
for tool in nginx python3 openssl; do
    if ! command -v "$tool" > /dev/null 2>&1 && [[ ! -x /usr/sbin/$tool ]]; then
        say "missing $tool, which the tests need"
        exit 1
    fi
done
nginx_binary=$(command -v nginx || echo /usr/sbin/nginx)

passed=0
failed=0
# A step the run cannot go on without failed: count it and end with the closing line.
abort_run() {
    say "$*"
    echo "$passed passed, $((failed + 1)) failed"
    exit 1
}
check() {  # check <description> <command...>: one counted check of this script
    local description=$1; shift
    if "$@"; then
        passed=$((passed + 1)); say "ok: $description"
    else
        failed=$((failed + 1)); say "FAILED: $description"
    fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/zemuser-wine.XXXXXX")
pids=()
export WINEPREFIX=${ZEMUSER_WINE_PREFIX:-$work/prefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
stop_all() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
    # The prefix's own server, which Wine started for us.
    if [[ -d "$WINEPREFIX" ]]; then "$wineserver_command" -k 2> /dev/null || true; fi
    rm -rf "$work"
}
trap stop_all EXIT

# A new prefix takes about a minute to make; it does so while the builds run.
# ZEMUSER_WINE_PREFIX names a prefix to reuse instead (it is kept).
mkdir -p "$WINEPREFIX"
"$wine_command" wineboot.exe -i > "$work/wineboot.log" 2>&1 &
wineboot_pid=$!
pids+=("$wineboot_pid")

# ---- builds ---------------------------------------------------------------------------------
configure_and_build() {  # <folder> <log name> <cmake arguments...> -- <targets...>
    local folder=$1 name=$2; shift 2
    local arguments=() targets=()
    while [[ $# -gt 0 && $1 != -- ]]; do arguments+=("$1"); shift; done
    shift
    targets=("$@")
    mkdir -p "$folder"
    if ! cmake "${arguments[@]}" -B "$folder" ${ZEMUSER_WERROR:+-DZEMUSER_WERROR=$ZEMUSER_WERROR} \
        > "$work/$name.log" 2>&1 ||
        ! cmake --build "$folder" -j "$jobs" --target "${targets[@]}" >> "$work/$name.log" 2>&1; then
        cat "$work/$name.log"
        abort_run "the $name build failed"
    fi
}

say "building zemuser.dll (i686), the x86_64 DLL with the test program, the file service"
configure_and_build "$build/i686" "i686" -S "$repo" --preset mingw-i686 -- zemuser
# The test program is a project of its own that builds the library with it.
configure_and_build "$build/x86_64" "x86_64" -S "$here" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake" -- zemuser zemuser_wine_tests
# ZEMUSER_FILE_SERVICE_BINARY may name a file service that another build already made.
file_service_binary=${ZEMUSER_FILE_SERVICE_BINARY:-}
if [[ -z "$file_service_binary" ]]; then
    configure_and_build "$build/native" "native" -S "$repo" --preset release -- zemuser_file_service
    file_service_binary=$build/native/bin/zemuser-file-service
fi

# ---- exports and imports --------------------------------------------------------------------
exports_match() {  # <objdump> <dll> <export list of its build, generated from the header>
    local actual expected_exports
    expected_exports=$(sort "$3")
    actual=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
    if [[ "$actual" != "$expected_exports" ]]; then
        diff <(echo "$expected_exports") <(echo "$actual") || true
        return 1
    fi
}

imports_are_system_dlls() {  # <objdump> <dll>
    local dll bad=0
    while read -r dll; do
        case "${dll^^}" in
            KERNEL32.DLL | WININET.DLL | ADVAPI32.DLL | USER32.DLL | MSVCRT.DLL | UCRTBASE.DLL | \
                API-MS-WIN-CRT-*) ;;
            *) echo "unexpected import: $dll"; bad=1 ;;
        esac
    done < <("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p')
    return $bad
}

dll32=$build/i686/zemuser.dll
dll64=$build/x86_64/bin/zemuser.dll
check "i686 zemuser.dll exports exactly the eighteen names" \
    exports_match i686-w64-mingw32-objdump "$dll32" "$build/i686/zemuser.exports"
check "i686 zemuser.dll imports only system DLLs" \
    imports_are_system_dlls i686-w64-mingw32-objdump "$dll32"
check "x86_64 zemuser.dll exports exactly the eighteen names" \
    exports_match x86_64-w64-mingw32-objdump "$dll64" "$build/x86_64/zemuser/zemuser.exports"
check "x86_64 zemuser.dll imports only system DLLs" \
    imports_are_system_dlls x86_64-w64-mingw32-objdump "$dll64"

# ---- servers --------------------------------------------------------------------------------
wait_for_listening() {  # <output file> <pid>: prints the URL once the server listens
    local i url
    for ((i = 0; i < 100; i++)); do
        url=$(sed -n 's/^listening on \(http:\/\/[0-9.:]*\).*/\1/p' "$1" | head -n 1)
        if [[ -n "$url" ]]; then echo "$url"; return 0; fi
        if ! kill -0 "$2" 2> /dev/null; then break; fi
        sleep 0.1
    done
    cat "$1" >&2
    return 1
}

mkdir -p "$work/records" "$work/files" "$work/docroot" "$work/scratch" "$work/nginx/temp"

"$file_service_binary" --root "$work/files" --port 0 > "$work/files.out" 2>&1 &
pids+=($!)
file_service=$(wait_for_listening "$work/files.out" "${pids[-1]}") ||
    abort_run "the file service did not start"

python3 "$here/recording_server.py" --records "$work/records" > "$work/recorder.out" 2>&1 &
pids+=($!)
recorder=$(wait_for_listening "$work/recorder.out" "${pids[-1]}") ||
    abort_run "the recording server did not start"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=127.0.0.1" \
    -keyout "$work/nginx/key.pem" -out "$work/nginx/cert.pem" > /dev/null 2>&1
nginx_port=$(free_port)
nginx_tls_port=$(free_port)
user_line=""
if [[ $(id -u) -eq 0 ]]; then user_line="user root;"; fi
sed -e "s|@WORK@|$work|g" -e "s|@PORT@|$nginx_port|g" -e "s|@TLS_PORT@|$nginx_tls_port|g" \
    -e "s|@USER@|$user_line|g" "$here/nginx.conf.in" > "$work/nginx/nginx.conf"
"$nginx_binary" -p "$work/nginx" -c "$work/nginx/nginx.conf" > "$work/nginx.out" 2>&1 &
pids+=($!)
nginx_listens() { (exec 3<> "/dev/tcp/127.0.0.1/$nginx_port") 2> /dev/null; }
for ((i = 0; i < 100; i++)); do
    if nginx_listens; then break; fi
    sleep 0.1
done
nginx_listens || { cat "$work/nginx.out" "$work/nginx/error.log" 2> /dev/null; abort_run "nginx did not start"; }

# ---- Wine -----------------------------------------------------------------------------------
say "waiting for the Wine prefix"
wait "$wineboot_pid" || { cat "$work/wineboot.log"; abort_run "wineboot failed"; }
"$wineserver_command" -w
settings='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
# The user's settings as the tests expect to find them: both on.
"$wine_command" reg add "$settings" /v EnableHttp1_1 /t REG_DWORD /d 1 /f > /dev/null 2>&1
"$wine_command" reg add "$settings" /v ProxyHttp1.1 /t REG_DWORD /d 1 /f > /dev/null 2>&1

windows_path() { echo "Z:${1//\//\\}"; }
export ZEMUSER_WINE_NGINX="http://127.0.0.1:$nginx_port"
export ZEMUSER_WINE_NGINX_TLS="https://127.0.0.1:$nginx_tls_port"
export ZEMUSER_WINE_RECORDER="$recorder"
export ZEMUSER_WINE_FILE_SERVICE="$file_service"
ZEMUSER_WINE_RECORDS=$(windows_path "$work/records")
ZEMUSER_WINE_FILE_ROOT=$(windows_path "$work/files")
ZEMUSER_WINE_NGINX_ROOT=$(windows_path "$work/docroot")
ZEMUSER_WINE_WORK=$(windows_path "$work/scratch")
export ZEMUSER_WINE_RECORDS ZEMUSER_WINE_FILE_ROOT ZEMUSER_WINE_NGINX_ROOT ZEMUSER_WINE_WORK

say "running the tests under Wine"
status=0
(cd "$build/x86_64/bin" && timeout 300 "$wine_command" zemuser_wine_tests.exe "$@") \
    > "$work/tests.out" 2>&1 || status=$?
grep -v -e '^it looks like wine32 is missing' -e '^multiarch needs' -e '^execute "dpkg' \
    -e '^apt-get install wine32' "$work/tests.out" || true
test_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$work/tests.out" | tail -n 1)
test_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below.*/\1/p' "$work/tests.out" |
    tail -n 1)
passed=$((passed + ${test_passed:-0}))
failed=$((failed + ${test_failed:-0}))
if [[ $status -ne 0 && -z "$test_failed" ]]; then
    say "the test program ended with status $status"
    failed=$((failed + 1))
fi

# Unloading the library wrote the saved values back: both on again.
"$wineserver_command" -w
registry_restored() {
    local value
    for value in EnableHttp1_1 ProxyHttp1.1; do
        "$wine_command" reg query "$settings" /v "$value" 2> /dev/null |
            grep -q "${value}[[:space:]]*REG_DWORD[[:space:]]*0x1" || return 1
    done
}
check "the user's HTTP/1.1 settings are restored after the process" registry_restored

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]

#!/usr/bin/env bash
# The documentation stage: the HTML reference of zemuser.h (Doxygen, any warning fails), the
# three examples built against the build tree and run against servers started here on
# 127.0.0.1, and every manual page rendered with man -l, with zemuser(1) and
# zemuser-file-service(1) checked against the programs' --help and zemuser(3) against the
# header's declarations.
# Usage: scripts/docs.sh [BUILD_DIR]     (default build/; configured and built as needed)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${1:-build}

step() { printf '\n==> %s\n' "$*"; }
fail() { echo "docs: $*" >&2; exit 1; }

for tool in doxygen man gzip python3 make cc c++; do
  command -v "$tool" > /dev/null || fail "$tool is missing (Debian: doxygen man-db python3 build-essential)"
done

step "Building the library, the programs and the manual pages in $build/"
if [[ ! -f $build/CMakeCache.txt ]]; then
  mkdir -p "$build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEMUSER_WERROR="${ZEMUSER_WERROR:-OFF}" \
    > "$build/configure.log" \
    || { cat "$build/configure.log"; exit 1; }
fi
cmake --build "$build" -j "$(nproc)" \
  --target zemuser zemuser_cli zemuser_file_service zemuser_man_pages > /dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d)
source scripts/servers.sh
cleanup() {
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

# ---- the reference ----
step "Reference: Doxygen on include/zemuser.h, warnings as errors"
version=$(sed -n 's/^project(zemuser VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf "$build/docs"
{
  cat docs/Doxyfile
  echo "OUTPUT_DIRECTORY = $build/docs"
  echo "PROJECT_NUMBER = $version"
  echo "GENERATE_XML = YES"
} | doxygen - || fail "doxygen reported the warnings above"
exports=$(cat "$build/zemuser.exports")
documented=0
for name in $exports; do
  grep -q "<name>$name</name>" "$build/docs/xml/zemuser_8h.xml" || fail "$name is not in the reference"
  documented=$((documented + 1))
done
echo "no warnings; $documented of $(wc -w <<< "$exports") exports documented; $build/docs/html/index.html"

# ---- the examples ----
step "Examples: built against $build/ with -Wall -Wextra -Werror"
mkdir "$work/examples"
cp examples/*.c examples/*.cpp examples/Makefile "$work/examples/"
make -s -C "$work/examples" ZEMUSER_CFLAGS="-I$source_dir/include" \
  ZEMUSER_LIBS="-L$build -lzemuser -Wl,-rpath,$build"
find "$work/examples" -type f -perm -u+x -printf '  built %f\n' | sort

mkdir "$work/served" "$work/service-root" "$work/inbox" "$work/cancelled"
echo "Hello from the example server." > "$work/served/hello.txt"
head -c 300000 /dev/urandom > "$work/served/report.bin"
start_server example-server python3 examples/example_server.py "$work/served"
example_url=$server_url
start_server file-service "$build/bin/zemuser-file-service" --root "$work/service-root" --port 0
service_url=$server_url/files
echo "servers: $example_url (examples/example_server.py), $service_url (zemuser-file-service)"

cd "$work/examples"
./fetch_url "$example_url/hello.txt" "$work/fetch.trace" > "$work/fetched" 2> /dev/null \
  || fail "fetch_url failed"
cmp -s "$work/served/hello.txt" "$work/fetched" || fail "fetch_url printed another body"
grep -qx 'ZEMUrlGet Result Code: 200' "$work/fetch.trace" || fail "fetch_url: no trace line"
status=0; ./fetch_url "$example_url/missing.txt" > /dev/null 2>&1 || status=$?
[[ $status == 3 ]] || fail "fetch_url of a missing page ended with $status, not 3"
echo "  fetch_url: the body and its trace line; a 404 ends with 3"

[[ $(./download_to_folder "$example_url/files/report.bin" "$work/inbox") == "$work/inbox/report.bin" ]] \
  || fail "download_to_folder did not name the announced file"
cmp -s "$work/served/report.bin" "$work/inbox/report.bin" || fail "download_to_folder stored other bytes"
./download_to_folder "$example_url/endless" "$work/cancelled" 2> /dev/null &
download_pid=$!
for _ in $(seq 100); do
  grep -q '^endless body started' "$work/example-server.out" && break
  sleep 0.1
done
grep -q '^endless body started' "$work/example-server.out" || fail "the endless body never started"
kill -INT "$download_pid"
status=0; wait "$download_pid" || status=$?
[[ $status == 130 ]] || fail "download_to_folder after Ctrl-C ended with $status, not 130"
[[ -z $(ls -A "$work/cancelled") ]] || fail "a cancelled download left $(ls -A "$work/cancelled")"
echo "  download_to_folder: stored under the announced name; Ctrl-C cancels (130), nothing left"

./post_and_upload "$service_url" docs-session "$work/served/report.bin" > "$work/posted" 2> /dev/null \
  || fail "post_and_upload failed"
cmp -s "$work/served/report.bin" "$work/service-root/docs-session/report.bin" \
  || fail "post_and_upload: the service did not store the file"
cmp -s "$work/served/report.bin" "$work/posted" || fail "post_and_upload printed another reply"
echo "  post_and_upload: the service stored the upload and the post fetched it back"
cd "$source_dir"

# ---- the manual pages ----
step "Manual pages: man -l, groff warnings as errors"
# One line of text per page, lower case, blanks collapsed, so that a help line can be looked for
# in it wherever the page breaks or indents it.
flatten() { tr -s ' \t\n' '   ' | tr '[:upper:]' '[:lower:]'; }
render() {
  LC_ALL=C MANWIDTH=200 MANROFFOPT='-rHY=0' man --warnings=all -l "$1" 2> "$work/warnings" \
    | col -b > "$work/page.txt"
  [[ ! -s $work/warnings ]] || { cat "$work/warnings"; fail "man -l $1 warned"; }
  [[ -s $work/page.txt ]] || fail "man -l $1 rendered nothing"
  flatten < "$work/page.txt"
}

# help_texts PROGRAM [COMMAND...]: the help of the program and of every command below it.
help_texts() {
  local program=$1; shift
  local help; help=$("$program" "$@" --help)
  printf '%s\n' "$help"
  local command
  for command in $(awk '/^Subcommands:$/ { on = 1; next } on && /^$/ { exit }
                        on && /^  [a-z]/ { print $1 }' <<< "$help"); do
    help_texts "$program" "$@" "$command"
  done
}

# expect_help_in PAGE PROGRAM: every line of the program's help is in the page.
expect_help_in() {
  local page=$1 program=$2 text line checked=0
  text=$(render "$page")
  while IFS= read -r line; do
    line=$(sed -e 's/^Usage: //' -e 's/:$//' <<< "$line" | flatten | sed 's/^ //; s/ $//')
    [[ -z $line ]] && continue
    [[ $text == *"$line"* ]] || fail "$(basename "$page") lacks this line of --help: $line"
    checked=$((checked + 1))
  done < <(help_texts "$program")
  echo "  $(basename "$page"): renders; all $checked lines of its --help are in it"
}
expect_help_in "$build/man/zemuser.1.gz" "$build/bin/zemuser"
expect_help_in "$build/man/zemuser-file-service.1.gz" "$build/bin/zemuser-file-service"

page_text=$(render "$build/man/zemuser.3.gz")
declared=0
while IFS= read -r declaration; do
  [[ $page_text == *"$(flatten <<< "$declaration" | sed 's/^ //; s/ $//')"* ]] \
    || fail "zemuser(3) lacks the declaration: $declaration"
  declared=$((declared + 1))
done < <(tr '\n' ' ' < include/zemuser.h \
           | grep -o 'ZEM_API [A-Za-z_][A-Za-z0-9_]* ZEM_CALL [^;]*;' \
           | sed -e 's/ZEM_API //' -e 's/ZEM_CALL //' | tr -s ' ')
[[ $declared == "$documented" ]] || fail "zemuser.h declares $declared exports, the map $documented"
echo "  zemuser.3.gz: renders; all $declared declarations of zemuser.h are in it"

step "Documentation checks passed"

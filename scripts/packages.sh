#!/usr/bin/env bash
# The packaging stage: builds the Debian packages with CPack from a Release build for /usr,
# checks their control fields, symbols and `dpkg-deb --contents` against what each must hold,
# unpacks them with dpkg -x into a scratch root, builds the examples shipped in libzemuser-dev
# against that root through pkg-config (make) and through the CMake package (find_package),
# and runs them and the unpacked zemuser against a server on 127.0.0.1.
# Usage: scripts/packages.sh [BUILD_DIR]     (default build-packages/)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${1:-build-packages}

step() { printf '\n==> %s\n' "$*"; }
fail() { echo "packages: $*" >&2; exit 1; }

for tool in cmake cpack dpkg-deb dpkg-shlibdeps dpkg-architecture pkg-config readelf nm file \
            man python3 make cc c++; do
  command -v "$tool" > /dev/null || fail "$tool is missing (Debian: dpkg-dev man-db file python3)"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(sed -n 's/^project(zemuser VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
revision=1

step "Building the packages in $build/ (Release, prefix /usr)"
mkdir -p "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DZEMUSER_BUILD_TESTS=OFF -DZEMUSER_PACKAGE_RELEASE=$revision > "$build/configure.log" \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" > "$build/build.log" || { tail -50 "$build/build.log"; exit 1; }
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
build=$(cd "$build" && pwd)
deb() { echo "$build/${1}_${version}-${revision}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"; }
for package in libzemuser0 libzemuser-dev zemuser-tools; do
  [[ -f $(deb $package) ]] || fail "cpack made no $(basename "$(deb $package)")"
  echo "  $(basename "$(deb $package)")"
done

work=$(mktemp -d)
source "$source_dir/scripts/servers.sh"
cleanup() {
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

# ---- what each package holds ----
step "Contents: dpkg-deb --contents against the expected lists"
libdir=usr/lib/$multiarch
declare -A expected
expected[libzemuser0]="\
./$libdir/libzemuser.so.0 -> libzemuser.so.$version
./$libdir/libzemuser.so.$version"
expected[libzemuser-dev]="\
./$libdir/cmake/zemuser/zemuserConfig.cmake
./$libdir/cmake/zemuser/zemuserConfigVersion.cmake
./$libdir/cmake/zemuser/zemuserTargets-release.cmake
./$libdir/cmake/zemuser/zemuserTargets.cmake
./$libdir/libzemuser.so -> libzemuser.so.0
./$libdir/pkgconfig/zemuser.pc
./usr/include/zemuser.h
./usr/share/doc/libzemuser-dev/examples/CMakeLists.txt
./usr/share/doc/libzemuser-dev/examples/Makefile
./usr/share/doc/libzemuser-dev/examples/download_to_folder.c
./usr/share/doc/libzemuser-dev/examples/fetch_url.c
./usr/share/doc/libzemuser-dev/examples/post_and_upload.cpp
./usr/share/man/man3/zemuser.3.gz"
expected[zemuser-tools]="\
./usr/bin/zemuser
./usr/bin/zemuser-file-service
./usr/share/man/man1/zemuser-file-service.1.gz
./usr/share/man/man1/zemuser.1.gz"
for package in libzemuser0 libzemuser-dev zemuser-tools; do
  # Files and links, not folders: "path" or "path -> target".
  dpkg-deb --contents "$(deb $package)" \
    | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' \
    | LC_ALL=C sort > "$work/$package.contents"
  if ! diff -u <(LC_ALL=C sort <<< "${expected[$package]}") "$work/$package.contents"; then
    fail "$package holds other files than expected (diff above: - expected, + packaged)"
  fi
  echo "  $package: the $(wc -l < "$work/$package.contents") expected files and links"
done

# ---- control fields ----
step "Control fields, dependencies, SONAME and symbols"
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
expect_field() {  # expect_field PACKAGE FIELD PATTERN: the field matches the extended regex
  local value; value=$(field "$1" "$2")
  [[ $value =~ $3 ]] || fail "$1: $2 is '$value', expected to match '$3'"
}
for package in libzemuser0 libzemuser-dev zemuser-tools; do
  expect_field $package Version "^${version}-${revision}\$"
  expect_field $package Priority '^optional$'
  expect_field $package Maintainer '^.+ <.+@.+>$'
  expect_field $package Source '^zemuser$'
  [[ -n $(field $package Description) ]] || fail "$package has no description"
done
expect_field libzemuser0 Section '^libs$'
expect_field libzemuser-dev Section '^libdevel$'
expect_field zemuser-tools Section '^web$'
# From dpkg-shlibdeps: the C library, libcurl and OpenSSL for the library; the library itself
# (through its symbols file) for the tools. The -dev package wants its own version exactly.
expect_field libzemuser0 Depends '(^|, )libc6 \(>= [^)]+\)'
expect_field libzemuser0 Depends '(^|, )libcurl4 '
expect_field libzemuser0 Depends '(^|, )libssl3 '
expect_field zemuser-tools Depends "(^|, )libzemuser0 \(>= ${version}\)"
expect_field zemuser-tools Depends '(^|, )libc6 '
expect_field libzemuser-dev Depends "^libzemuser0 \(= ${version}-${revision}\)\$"
for package in libzemuser0 libzemuser-dev zemuser-tools; do
  echo "  $package: Depends: $(field $package Depends)"
done

dpkg-deb -e "$(deb libzemuser0)" "$work/control"
grep -qx "libzemuser 0 libzemuser0 (>= ${version}-${revision})" "$work/control/shlibs" \
  || fail "libzemuser0: shlibs is '$(cat "$work/control/shlibs")'"
grep -q ldconfig "$work/control/postinst" || fail "libzemuser0: postinst does not run ldconfig"

root=$work/root
for package in libzemuser0 libzemuser-dev zemuser-tools; do dpkg -x "$(deb $package)" "$root"; done
library=$root/$libdir/libzemuser.so.$version
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == libzemuser.so.0 ]] || fail "the library's SONAME is '$soname'"
exports=$(LC_ALL=C sort "$build/zemuser.exports")
symbols=$(sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@Base .*/\1/p' "$work/control/symbols" | LC_ALL=C sort)
dynamic=$(nm -D --defined-only "$library" | awk '$2 == "T" { print $3 }' | LC_ALL=C sort)
[[ $(head -1 "$work/control/symbols") == "libzemuser.so.0 libzemuser0 #MINVER#" ]] \
  || fail "libzemuser0: the symbols file does not start with its SONAME line"
diff <(echo "$exports") <(echo "$symbols") || fail "the symbols file and the header's export list differ"
diff <(echo "$exports") <(echo "$dynamic") || fail "the library exports other names than its header declares"
echo "  libzemuser0: SONAME $soname; shlibs and symbols list the $(wc -l <<< "$symbols") exports the library has"

# ---- hosts built against the unpacked packages ----
step "Examples from libzemuser-dev built against the unpacked root $root"
export PKG_CONFIG_PATH=$root/$libdir/pkgconfig
include_dir=$(pkg-config --cflags-only-I zemuser | sed 's/^-I//; s/ *$//')
[[ $(realpath "$include_dir") == "$root/usr/include" ]] \
  || fail "pkg-config gives the header folder '$include_dir', not the unpacked one"
cp -r "$root/usr/share/doc/libzemuser-dev/examples" "$work/make-build"
make -s -C "$work/make-build"
echo "  make with pkg-config: $(pkg-config --cflags --libs zemuser)"
cmake -S "$root/usr/share/doc/libzemuser-dev/examples" -B "$work/cmake-build" \
  -DCMAKE_PREFIX_PATH="$root/usr" > "$work/cmake-configure.log" \
  || { cat "$work/cmake-configure.log"; exit 1; }
package_dir=$(sed -n 's/^zemuser_DIR:PATH=//p' "$work/cmake-build/CMakeCache.txt")
[[ $package_dir == "$root/$libdir/cmake/zemuser" ]] || fail "find_package used $package_dir"
cmake --build "$work/cmake-build" > "$work/cmake-build.log" \
  || { cat "$work/cmake-build.log"; exit 1; }
echo "  CMake with find_package(zemuser): $package_dir"

step "Running them, and the unpacked zemuser, against examples/example_server.py"
mkdir "$work/served" "$work/inbox"
head -c 70000 /dev/urandom > "$work/served/sample.bin"
start_server example-server python3 "$source_dir/examples/example_server.py" "$work/served"
url=$server_url
for built in make-build cmake-build; do
  LD_LIBRARY_PATH=$root/$libdir "$work/$built/fetch_url" "$url/sample.bin" > "$work/fetched" 2> /dev/null \
    || fail "$built/fetch_url failed"
  cmp -s "$work/served/sample.bin" "$work/fetched" || fail "$built/fetch_url printed other bytes"
done
LD_LIBRARY_PATH=$root/$libdir "$work/cmake-build/download_to_folder" "$url/files/sample.bin" \
  "$work/inbox" > /dev/null || fail "download_to_folder failed"
cmp -s "$work/served/sample.bin" "$work/inbox/sample.bin" || fail "download_to_folder stored other bytes"
echo "  fetch_url (both builds) and download_to_folder: the served bytes"
# The unpacked programs find the unpacked library by their own run path.
"$root/usr/bin/zemuser" --quiet get "$url/sample.bin" > "$work/got" 2> /dev/null \
  || fail "the unpacked zemuser failed"
cmp -s "$work/served/sample.bin" "$work/got" || fail "the unpacked zemuser printed other bytes"
"$root/usr/bin/zemuser-file-service" --help > /dev/null || fail "the unpacked file service fails"
for page in "$root/usr/share/man/man1/zemuser.1.gz" "$root/usr/share/man/man1/zemuser-file-service.1.gz" \
            "$root/usr/share/man/man3/zemuser.3.gz"; do
  [[ -n $(LC_ALL=C man -l "$page" 2> /dev/null) ]] || fail "man -l $page rendered nothing"
done
echo "  zemuser get from the unpacked tools: the served bytes; the three man pages render"

step "Package checks passed: libzemuser0, libzemuser-dev, zemuser-tools ${version}-${revision}"

#!/bin/bash
# Installs what zemuser needs on a fresh Debian 12, by profile:
#
#   scripts/install-deps.sh [build] [test] [windows] [docs]
#
#   build    compilers, CMake and the libraries: building the library and the tools and running
#            scripts/demo.sh (the default, and part of every profile)
#   test     the test suites' servers and libraries, the sanitizers' and fuzzers' clang, the
#            static analysers, the benchmarks' libraries and ccache (the test command's builds
#            share their compilations through it)
#   windows  mingw-w64 and Wine for the Windows DLLs and their tests (with the GoogleTest
#            sources, and openssl, which those tests use)
#   docs     Doxygen, the manual-page tools and dpkg's for the reference, the examples and the
#            Debian packages
#
# Does nothing when all of it is already present. Starts no service: the tests run their own
# nginx and proxy.
set -euo pipefail

BUILD_PACKAGES=(
    build-essential cmake pkg-config
    libcurl4-openssl-dev libssl-dev libcli11-dev libcpp-httplib-dev
)
# ca-certificates: the TLS tests and the soak need a system CA store; without one, a server of
# an unknown authority fails as a broken store does, not as an unknown authority.
TEST_PACKAGES=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    nginx-light tinyproxy openssl ca-certificates curl procps
    clang-14 libclang-rt-14-dev clang-tidy cppcheck clang-format ccache
)
# wine64 alone puts no program on the PATH; the wine package holds wine, wineboot and wineserver.
# The Wine tests cross-build GoogleTest from its sources (googletest); their HTTPS server is
# openssl's, with a certificate that openssl makes.
WINDOWS_PACKAGES=(
    mingw-w64 wine wine64
    googletest openssl
)
# The examples run against a small python3 server.
DOCS_PACKAGES=(
    doxygen man-db groff-base gzip dpkg-dev file python3
)

packages=("${BUILD_PACKAGES[@]}")
profiles=build
for profile in "$@"; do
    case $profile in
        build) continue ;;
        test) packages+=("${TEST_PACKAGES[@]}") ;;
        windows) packages+=("${WINDOWS_PACKAGES[@]}") ;;
        docs) packages+=("${DOCS_PACKAGES[@]}") ;;
        -h | --help) sed -n '2,16p' "$0"; exit 0 ;;
        *) echo "install-deps: unknown profile '$profile' (build, test, windows, docs)" >&2; exit 2 ;;
    esac
    profiles+=" $profile"
done

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" && " ${missing[*]} " != *" $package "* ]]; then
        missing+=("$package")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all packages present (profiles: $profiles)"
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
else
    as_root=(sudo)
fi

echo "install-deps: profiles $profiles: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Forbid package scripts from starting daemons (policy-rc.d exit 101), only for this run and
# only when the machine has no policy of its own.
policy=/usr/sbin/policy-rc.d
own_policy=false
if [[ ! -e "$policy" ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" > /dev/null
    "${as_root[@]}" chmod 755 "$policy"
    own_policy=true
fi
remove_policy() {
    if [[ "$own_policy" == true ]]; then "${as_root[@]}" rm -f "$policy"; fi
}
trap remove_policy EXIT

"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"

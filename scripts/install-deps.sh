#!/bin/bash
# Installs what building and testing zemuser needs on a fresh Debian 12. Does nothing when all
# of it is already present. Starts no service: the tests run their own nginx and proxy.
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libcurl4-openssl-dev libssl-dev openssl libcli11-dev libcpp-httplib-dev
    nginx-light tinyproxy
    clang-14 libclang-rt-14-dev clang-tidy cppcheck clang-format
    procps
    mingw-w64 wine64
)

missing=()
for package in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "install-deps: all packages present"
    exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
else
    as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
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

#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks what landed there, then builds and runs a
# small host against it through find_package(zemuser) and through pkg-config.
# Usage: install_test.sh CMAKE BUILD_DIR CONSUMER_SOURCE LIBDIR
set -euo pipefail
cmake_command=$1 build=$2 consumer=$3 libdir=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake_command" --install "$build" --prefix "$prefix" > "$work/install.log"

# The installed programs find the installed library by themselves; the consumer below finds
# the header, the library and both package descriptions.
test -x "$prefix/bin/zemuser-file-service"
"$prefix/bin/zemuser" --version | grep -q '^zemuser '

PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig "$cmake_command" -S "$consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$prefix" > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
"$cmake_command" --build "$work/consumer" > "$work/build.log" || { cat "$work/build.log"; exit 1; }
LD_LIBRARY_PATH=$prefix/$libdir "$work/consumer/consumer_cmake"
LD_LIBRARY_PATH=$prefix/$libdir "$work/consumer/consumer_pkgconfig"

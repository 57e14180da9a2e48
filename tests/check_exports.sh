#!/bin/sh
# The shared library must export exactly the names of the export list (generated from
# include/zemuser.h at configure time, one name a line), nothing else.
set -eu
lib="$1"; list="$2"
expected=$(sort "$list")
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from $list:"
  diff -u /dev/fd/3 /dev/fd/4 3<<E 4<<A || true
$expected
E
$actual
A
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) names, as expected"

#!/bin/sh
# The shared library must export exactly the names of its version script, nothing else.
set -eu
lib="$1"; map="$2"
expected=$(sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\);$/\1/p' "$map" | sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from $map:"
  diff -u /dev/fd/3 /dev/fd/4 3<<E 4<<A || true
$expected
E
$actual
A
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) names, as expected"

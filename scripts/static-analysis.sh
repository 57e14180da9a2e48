#!/usr/bin/env bash
# clang-tidy (the checks of .clang-tidy) and cppcheck over the library and the tools. Both must
# be clean; every suppression carries its reason next to it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json"; exit 1; }

echo "--- cppcheck"
cppcheck --quiet --enable=warning,performance,portability --std=c++17 --inline-suppr \
  --error-exitcode=1 -I include -I src --suppress=missingIncludeSystem \
  -i src/platform/windows src/ tools/

echo "--- clang-tidy"
# Only the library and tool sources of this system; the Windows layer has its own build.
files=$(find src tools -name '*.cpp' -not -path 'src/platform/windows/*' | sort)
run-clang-tidy -quiet -p "$build" -j "$(nproc)" $files > "$build/clang-tidy.log" 2>&1 || {
  grep -E "warning:|error:" "$build/clang-tidy.log" | sort -u | head -50
  echo "clang-tidy found problems (full log: $build/clang-tidy.log)"
  exit 1
}
echo "static analysis clean"

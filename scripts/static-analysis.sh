#!/usr/bin/env bash
# The format check (clang-format with .clang-format, over every C and C++ file), the check that
# no Windows name appears above src/platform (scripts/check-platform-names.sh), cppcheck, and
# clang-tidy (the checks of .clang-tidy) over the library and the tools. All must be clean;
# every suppression carries its reason next to it. Argument: the build folder whose
# compile_commands.json clang-tidy reads (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "no $build/compile_commands.json"; exit 1; }

echo "--- clang-format"
# The source folders, not the build folders; a fresh clone has nothing else in them.
mapfile -t sources < <(find include src tools tests bench -name '*.cpp' -o -name '*.h' -o \
  -name '*.c' | sort)
clang-format --dry-run --Werror "${sources[@]}" 2> "$build/clang-format.log" || {
  grep -E "warning:|error:" "$build/clang-format.log" | head -50
  echo "clang-format: files above differ from .clang-format; clang-format -i <file> fixes them"
  exit 1
}
echo "${#sources[@]} files formatted as .clang-format says"

echo "--- Windows names above the platform layer"
scripts/check-platform-names.sh

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

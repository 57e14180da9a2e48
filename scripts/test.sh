#!/usr/bin/env bash
# Builds and runs the tests, stage by stage, and prints how long each stage took.
#
#   scripts/test.sh [stage...]   the named stages in the order given; every stage when none is
#                                named
#   scripts/test.sh --list       the stages and what each runs
#
# Each stage builds what it needs (with the presets of CMakePresets.json, warnings as errors),
# so any one can run alone on a fresh clone; the dependencies of the chosen stages are installed
# first (scripts/install-deps.sh). Servers (nginx, the proxy, the scripted server, the file
# service) are started and stopped by the tests themselves on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# name|install-deps profile|what it runs
STAGES=(
  "normal|test|release build (build/) and all its tests"
  "demo|build|the main job, scripts/demo.sh"
  "static-analysis|test|clang-format check, cppcheck and clang-tidy over the sources"
  "asan|test|the suites under AddressSanitizer and UndefinedBehaviorSanitizer"
  "tsan|test|the threaded tests and the soak under ThreadSanitizer"
  "fuzz|test|each libFuzzer target for ${ZEMUSER_FUZZ_SECONDS:-15} s"
  "windows|windows|both Windows DLLs cross-built, checked, and tested under Wine"
  "docs|docs|the header's reference (Doxygen), the examples run, the manual pages checked"
  "packages|docs|the Debian packages built, inspected, unpacked and used by the examples"
)
stage_field() {  # stage_field <name> <field number>
  local entry
  for entry in "${STAGES[@]}"; do
    if [[ ${entry%%|*} == "$1" ]]; then cut -d'|' -f"$2" <<< "$entry"; return 0; fi
  done
  return 1
}

if [[ ${1:-} == --list ]]; then
  for entry in "${STAGES[@]}"; do
    printf '%-16s %s\n' "${entry%%|*}" "$(cut -d'|' -f3 <<< "$entry")"
  done
  exit 0
fi
if [[ ${1:-} == -h || ${1:-} == --help ]]; then sed -n '2,11p' "$0"; exit 0; fi

selected=("$@")
if [[ ${#selected[@]} -eq 0 ]]; then
  for entry in "${STAGES[@]}"; do selected+=("${entry%%|*}"); done
fi
profiles=()
for name in "${selected[@]}"; do
  profile=$(stage_field "$name" 2) || {
    echo "test.sh: no stage '$name'; the stages are:" >&2
    "$0" --list >&2
    exit 2
  }
  if [[ " ${profiles[*]} " != *" $profile "* ]]; then profiles+=("$profile"); fi
done

# Warnings are errors in every build of the test command (a plain build only warns). The
# scripts that configure builds of their own read this too.
export ZEMUSER_WERROR=ON

declare -a stage_names=() stage_seconds=()
stage() {  # stage <name> <command...>
  local name=$1; shift
  local start=$SECONDS
  echo "=== $name"
  "$@"
  stage_names+=("$name"); stage_seconds+=($((SECONDS - start)))
  echo "=== $name: $((SECONDS - start)) s"
}
step() {  # step <label> <command...>: a timed part of a stage
  local label=$1; shift
  local start=$SECONDS
  "$@"
  echo "--- $label: $((SECONDS - start)) s"
}

configure() {  # configure <preset> [cmake options...]: quiet unless it fails
  local preset=$1; shift
  local log
  log=$(mktemp)
  cmake --preset "$preset" -DZEMUSER_WERROR="$ZEMUSER_WERROR" "$@" > "$log" 2>&1 ||
    { cat "$log"; rm -f "$log"; return 1; }
  rm -f "$log"
}
build() {  # build <preset> [targets...]
  local preset=$1; shift
  configure "$preset"
  if [[ $# -gt 0 ]]; then
    cmake --build --preset "$preset" -j "$jobs" --target "$@"
  else
    cmake --build --preset "$preset" -j "$jobs"
  fi
}
run_ctest() {  # run_ctest <folder> [ctest options...]
  local folder=$1; shift
  # The suites are separate processes on ports and folders of their own: they run side by side.
  ctest --test-dir "$folder" --output-on-failure --no-tests=error --timeout 1500 \
    -j "$(nproc)" "$@"
}

# ---- the stages -------------------------------------------------------------------------------
stage_normal() {
  step "build (release)" build release
  step "tests (release)" run_ctest build
}

stage_demo() {
  scripts/demo.sh
}

stage_static_analysis() {
  # clang-tidy reads the compile commands, which configuring alone writes.
  configure release
  scripts/static-analysis.sh build
}

stage_asan() {
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  step "build (address, undefined)" build asan-ubsan
  # The soak runs in the normal build and, shorter, under ThreadSanitizer.
  step "tests (address, undefined)" run_ctest build-asan-ubsan -E '^(exported_symbols|soak)$'
}

stage_tsan() {
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  step "build (thread)" build tsan \
    platform_tests api_tests soak zemuser_file_service
  # The threaded tests: cancellation, concurrent transfers, shared trace log and meter, the soak.
  GTEST_FILTER='*Thread*:*Concurren*:*Cancel*:*Parallel*' \
    step "tests (thread)" run_ctest build-tsan -R '^(platform_tests|api_tests|soak)$'
}

stage_fuzz() {
  tests/fuzz/run-fuzzers.sh "${ZEMUSER_FUZZ_SECONDS:-15}"
}

stage_windows() {
  tests/windows/run-wine-tests.sh
}

stage_docs() {
  scripts/docs.sh build
}

stage_packages() {
  scripts/packages.sh build-packages
}

# The tests hold the HTTP/1.1 settings off in a settings store of their own, never the user's.
ZEMUSER_SETTINGS_DIR=$(mktemp -d)
export ZEMUSER_SETTINGS_DIR
trap 'rm -rf "$ZEMUSER_SETTINGS_DIR"' EXIT

stage "install dependencies (${profiles[*]})" scripts/install-deps.sh "${profiles[@]}"
# Several stages compile the same sources with the same flags (the release build, the packages'
# build, the library inside the Windows test program); ccache compiles each once. Paths are
# taken relative to the checkout, so build folders of equal depth share entries.
if command -v ccache > /dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$PWD
fi
run_stage() {  # in a subshell, so that a stage's sanitizer settings stay its own
  ( "stage_${1//-/_}" )
}
for name in "${selected[@]}"; do stage "$name" run_stage "$name"; done

echo
echo "Stage times:"
for i in "${!stage_names[@]}"; do
  printf '  %-44s %5d s\n' "${stage_names[$i]}" "${stage_seconds[$i]}"
done
echo "all stages passed: ${selected[*]}"

#!/usr/bin/env bash
# Builds and runs every test: the normal build, the same suites under AddressSanitizer with
# UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer, each with its preset
# of CMakePresets.json and warnings as errors. Prints how long each stage took. Servers (nginx,
# the proxy, the scripted server, the file service) are started and stopped by the tests
# themselves on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

declare -a stage_names=() stage_seconds=()
stage() {
  local name=$1; shift
  local start=$SECONDS
  echo "=== $name"
  "$@"
  stage_names+=("$name"); stage_seconds+=($((SECONDS - start)))
  echo "=== $name: $((SECONDS - start)) s"
}

# Warnings are errors in every build of the test command (a plain build only warns). The
# scripts that configure builds of their own read this too.
export ZEMUSER_WERROR=ON

build() {  # build <preset> [targets...]
  local preset=$1; shift
  local log
  log=$(mktemp)
  cmake --preset "$preset" -DZEMUSER_WERROR="$ZEMUSER_WERROR" > "$log" 2>&1 ||
    { cat "$log"; rm -f "$log"; return 1; }
  rm -f "$log"
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" -j "$jobs" --target "$@"
  else
    cmake --build --preset "$preset" -j "$jobs"
  fi
}

run_ctest() {  # run_ctest <folder> [ctest options...]
  local folder=$1; shift
  ctest --test-dir "$folder" --output-on-failure --no-tests=error --timeout 1500 "$@"
}

# The tests hold the HTTP/1.1 settings off in a settings store of their own, never the user's.
ZEMUSER_SETTINGS_DIR=$(mktemp -d)
export ZEMUSER_SETTINGS_DIR
trap 'rm -rf "$ZEMUSER_SETTINGS_DIR"' EXIT

# Everything: the test suites' and the Windows stage's dependencies.
if [ -x scripts/install-deps.sh ]; then
  stage "install dependencies" scripts/install-deps.sh build test windows
fi

stage "build" build release
stage "tests" run_ctest build
stage "main job (scripts/demo.sh)" scripts/demo.sh
stage "static analysis" scripts/static-analysis.sh build

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "build (address, undefined)" build asan-ubsan
# The soak runs in the normal build and, shorter, under ThreadSanitizer.
stage "tests (address, undefined)" run_ctest build-asan-ubsan -E '^(exported_symbols|soak)$'

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
stage "build (thread)" build tsan \
  unit_tests net_tests api_tests session_probe host_probe soak zemuser_file_service
# The threaded tests: cancellation, concurrent transfers, shared trace log and meter, the soak.
GTEST_FILTER='*Thread*:*Concurren*:*Cancel*:*Parallel*' \
  stage "tests (thread)" run_ctest build-tsan -R '^(unit_tests|net_tests|api_tests|soak)$'

stage "fuzzers" tests/fuzz/run-fuzzers.sh "${ZEMUSER_FUZZ_SECONDS:-20}"
stage "windows build, tests under Wine" env ZEMUSER_WINE_REQUIRED=1 \
  ZEMUSER_FILE_SERVICE_BINARY="$PWD/build/bin/zemuser-file-service" tests/windows/run-wine-tests.sh

echo
echo "Stage times:"
for i in "${!stage_names[@]}"; do
  printf '  %-32s %5d s\n' "${stage_names[$i]}" "${stage_seconds[$i]}"
done
echo "all stages passed"

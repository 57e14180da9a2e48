#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, folder build-fuzz) and runs each for a bounded time
# on a copy of its committed corpus; exits non-zero when any target found a crash, a leak or a
# time-out, whose input is kept in build-fuzz/fuzz-runs/<target>/.
#
#   tests/fuzz/run-fuzzers.sh [seconds-per-target] [target...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build-fuzz seconds=${1:-15}
shift || true
targets=("${@:-fuzz_url fuzz_download_name fuzz_form_body fuzz_settings_file fuzz_server_answer}")
read -r -a targets <<< "${targets[*]}"
mkdir -p "$build"
cmake --preset fuzz ${ZEMUSER_WERROR:+-DZEMUSER_WERROR=$ZEMUSER_WERROR} > "$build/configure.log" \
  2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build --preset fuzz -j 2 --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
results=() failed=0
for target in "${targets[@]}"; do
  work=$build/fuzz-runs/$target status=ok
  rm -rf "$work" && mkdir -p "$work/tmp" && cp -r "tests/fuzz/corpus/$target" "$work/corpus"
  echo "=== $target: $seconds s"
  # URLs longer than the 2084-character buffers; the server's answers may wait for time-outs.
  if ! (cd "$work" && TMPDIR=$work/tmp "$build/tests/fuzz/$target" corpus -max_len=6000 \
        -max_total_time="$seconds" -timeout=30 -print_final_stats=1 -artifact_prefix="$work/" \
        > "$work/log.txt" 2>&1); then
    status=FAILED failed=1
    grep -E "ERROR|SUMMARY|fuzz check failed|Test unit written" "$work/log.txt" ||
      tail -n 30 "$work/log.txt"
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log.txt" | tail -n 1)
  results+=("$(printf '  %-22s %12s executions  %s' "$target" "${executions:-?}" "$status")")
done
echo
echo "Fuzzing, $seconds s per target:"
printf '%s\n' "${results[@]}"
exit $failed

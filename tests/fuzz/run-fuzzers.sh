#!/usr/bin/env bash
# Usage: run-fuzzers.sh [seconds-per-target] [target...]   Builds the fuzz targets and runs each
# on a copy of its corpus; fails on a crash, leak or time-out (input in build-fuzz/fuzz-runs/).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build-fuzz seconds=${1:-15}
shift || true
targets=("$@")
(($#)) || targets=(fuzz_url fuzz_download_name fuzz_form_body fuzz_settings_file fuzz_server_answer)
cmake --preset fuzz ${ZEMUSER_WERROR:+-DZEMUSER_WERROR=$ZEMUSER_WERROR} > /dev/null
cmake --build --preset fuzz -j 2 --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
for target in "${targets[@]}"; do
  work=$build/fuzz-runs/$target
  rm -rf "$work" && mkdir -p "$work/tmp" && cp -r "tests/fuzz/corpus/$target" "$work/corpus"
  # URLs longer than the 2084-character buffers; the server's answers may wait for time-outs.
  if (cd "$work" && TMPDIR=$work/tmp "$build/tests/fuzz/$target" corpus -max_len=6000 \
      -max_total_time="$seconds" -timeout=30 -artifact_prefix="$work/" > log.txt 2>&1); then
    echo "$target: ok, $seconds s"
  else
    failed=1
    echo "$target: FAILED"
    grep -E "ERROR|SUMMARY|fuzz check failed|Test unit written" "$work/log.txt" || tail -n 30 "$work/log.txt"
  fi
done
exit $failed

#!/usr/bin/env bash
# Measures the library against plain libcurl (and the curl tool) doing the same work, side by
# side in one run, against nginx on 127.0.0.1, and prints the tables of medians and ratios.
#
#   bench/run.sh [--large] [--rounds N] [--filter REGEX]
#
#   --large        also the 1 GB download (needs about 2 GB of free disk in $TMPDIR)
#   --rounds N     rounds (default 9): every case runs once per round, in an order of its
#                  own; the tables quote medians
#   --filter RE    only the cases whose names match RE (e.g. 'fetch_1k')
#
# Release build in build-bench (preset bench); nginx as in bench/loopback_nginx.sh.
# Peak memory is measured first, each case once in a process of its own. The summary is kept
# in build-bench/bench-summary.txt, every run in build-bench/bench-results.json. (The line
# "Library was built as DEBUG" is about the distribution's build of Google Benchmark itself.)
set -euo pipefail
cd "$(dirname "$0")/.."

large=0
rounds=9
filter=.
while [ $# -gt 0 ]; do
  case $1 in
    --large) large=1 ;;
    --rounds) rounds=$2; shift ;;
    --filter) filter=$2; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

. bench/loopback_nginx.sh
build_bench

echo "=== body files"
make_body body-1k.txt 1024
make_body body-64m.txt $((64 << 20))
make_body body-256m.txt $((256 << 20))
if [ "$large" = 1 ]; then make_body body-1g.txt $((1 << 30)); fi

echo "=== nginx on loopback"
serve_on_loopback
export ZEMUSER_BENCH_PEAKS="$work/peaks.txt"

echo "=== peak resident memory, one process per case"
: > "$ZEMUSER_BENCH_PEAKS"
failed=0
for name in $("$bench" --list-cases | grep -E -- "$filter"); do
  "$bench" --peak-memory "$name" >> "$ZEMUSER_BENCH_PEAKS" || failed=1
done
cat "$ZEMUSER_BENCH_PEAKS"

echo "=== timings: $rounds rounds"
ZEMUSER_BENCH_ROUNDS="$rounds" "$bench" --benchmark_filter="$filter" \
  --benchmark_out="$PWD/build-bench/bench-results.json" --benchmark_out_format=json \
  | tee "$PWD/build-bench/bench-summary.txt"
grep -q '^FAILED' "$PWD/build-bench/bench-summary.txt" && failed=1

echo "=== server side: every upload body complete"
if [ -s "$work/upload.log" ]; then
  # request_length counts request line, headers and body; content_length the announced body.
  awk '{ n++; sizes[$2] = 1; if ($3 != 200 || $2 == "-" || $1 < $2) bad++ }
       END { for (size in sizes) list = list " " size
             printf "%d uploads, %d incomplete or refused; bodies of%s bytes\n", n, bad, list
             exit bad > 0 }' \
    "$work/upload.log" || failed=1
else
  echo "no uploads ran"
fi
exit "$failed"

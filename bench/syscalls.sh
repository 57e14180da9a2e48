#!/usr/bin/env bash
# Counts the system calls of small GETs: 1 KB bodies from nginx on 127.0.0.1, each case run
# under `strace -c -f` once with N calls and once with none, so that the difference divided by N
# is the cost of one call without the process's start and end.
#
#   bench/syscalls.sh [--calls N] [--top K]
#
#   --calls N   calls per case (default 1000)
#   --top K     kinds of system call listed (default 12)
#
# Cases: `ZEMUrlGet2` with a null handle, the same while the host holds a handle, and the
# libcurl reference (a fresh easy handle per request). Target: at most 35 per null-handle call.
set -euo pipefail
cd "$(dirname "$0")/.."

calls=1000
top=12
while [ $# -gt 0 ]; do
  case $1 in
    --calls) calls=$2; shift ;;
    --top) top=$2; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
command -v strace > /dev/null || { echo "strace is missing (apt-get install strace)" >&2; exit 1; }

. bench/loopback_nginx.sh
build_bench
make_body body-1k.txt 1024
serve_on_loopback

cases="fetch_1k/library_get2 fetch_1k/library_get2_handle_held fetch_1k/libcurl"
# count_calls <case> <N>: "<syscall> <count>" lines of one run of the case with N calls
count_calls() {
  local out="$work/strace.out"
  ZEMUSER_BENCH_SMALL_FETCHES=$2 strace -c -f -o "$out" "$bench" --once "$1" \
    || { echo "$1 failed under strace" >&2; exit 1; }
  # Rows: % time, seconds, usecs/call, calls, [errors,] name; the total row is left out.
  awk '$1 ~ /^[0-9.]+$/ && $NF != "total" { print $NF, $4 }' "$out"
}

echo "=== system calls per call, $calls calls per case"
failed=0
for name in $cases; do
  key=${name#fetch_1k/}
  count_calls "$name" 0 > "$work/$key.none"
  count_calls "$name" "$calls" > "$work/$key.many"
  # Per call: the difference of the two runs, divided by N.
  awk -v n="$calls" 'NR == FNR { none[$1] = $2; next }
                     { d = ($2 - none[$1]) / n; if (d > 0) printf "%s %.2f\n", $1, d }' \
    "$work/$key.none" "$work/$key.many" | sort -k2,2nr > "$work/$key.per"
  total=$(awk '{ s += $2 } END { printf "%.1f", s }' "$work/$key.per")
  echo "$name: $total per call"
  echo "$total" > "$work/$key.total"
done

echo
keys=$(for name in $cases; do echo "${name#fetch_1k/}"; done)
# One table: the kinds most frequent in the null-handle call, per call in every case.
{
  printf '| system call |'; for key in $keys; do printf ' %s |' "$key"; done; echo
  printf '|---|'; for key in $keys; do printf -- '---|'; done; echo
  printf '| **all** |'; for key in $keys; do printf ' **%s** |' "$(cat "$work/$key.total")"; done
  echo
  head -n "$top" "$work/library_get2.per" | while read -r syscall _; do
    printf '| %s |' "$syscall"
    for key in $keys; do
      printf ' %s |' "$(awk -v s="$syscall" '$1 == s { v = $2 } END { print v ? v : "0" }' \
        "$work/$key.per")"
    done
    echo
  done
}
null=$(cat "$work/library_get2.total")
if awk -v v="$null" 'BEGIN { exit !(v <= 35) }'; then
  echo; echo "null handle: $null per call, target at most 35: met"
else
  echo; echo "null handle: $null per call, target at most 35: missed"; failed=1
fi
exit "$failed"

#!/usr/bin/env bash
# The main job, start to end, on this machine alone: builds zemuser, starts the reference file
# service on a free loopback port, sends a file to a conference session and fetches it back,
# downloads it again under the name the service announces, and shows the library's trace.
# Installs only the build profile of scripts/install-deps.sh; prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n==> %s\n' "$*"; }

if [[ -x scripts/install-deps.sh ]]; then
  step "Installing what the build needs (profile build)"
  scripts/install-deps.sh build
fi
installed_at=$SECONDS

step "Configuring and building (preset release, folder build/)"
mkdir -p build
# ZEMUSER_WERROR=ON (as the test command sets it) makes warnings errors here too.
cmake --preset release ${ZEMUSER_WERROR:+-DZEMUSER_WERROR=$ZEMUSER_WERROR} > build/configure.log \
  || { cat build/configure.log; exit 1; }
cmake --build --preset release -j "$(nproc)" --target zemuser_cli zemuser_file_service
zemuser=build/bin/zemuser
service=build/bin/zemuser-file-service
built_at=$SECONDS

work=$(mktemp -d)
service_pid=
stop_service() {
  if [[ -n "$service_pid" ]] && kill -0 "$service_pid" 2> /dev/null; then
    kill -TERM "$service_pid"
    wait "$service_pid" || true
  fi
  rm -rf "$work"
}
trap stop_service EXIT

step "Starting the file service on a free loopback port"
mkdir "$work/served" "$work/inbox"
"$service" --root "$work/served" --port 0 > "$work/service.out" 2> "$work/service.log" &
service_pid=$!
for _ in $(seq 100); do
  grep -q '^listening on ' "$work/service.out" && break
  kill -0 "$service_pid" 2> /dev/null || { cat "$work/service.log"; exit 1; }
  sleep 0.1
done
base=$(sed -n 's/^listening on //p' "$work/service.out")
[[ -n "$base" ]] || { echo "demo: the file service did not start" >&2; exit 1; }
url=$base/files
echo "file service at $url, files in $work/served"

session=demo-session
head -c 262144 /dev/urandom > "$work/minutes.bin"

step "Sending minutes.bin (256 KiB) to session $session: zemuser conf put"
"$zemuser" conf put "$url" "$session" "$work/minutes.bin" --trace "$work/put.trace"
echo "trace:"; sed 's/^/  /' "$work/put.trace"

step "Fetching it back: zemuser conf get"
"$zemuser" conf get "$url" "$session" minutes.bin "$work/fetched.bin" --trace "$work/get.trace"
echo "trace:"; sed 's/^/  /' "$work/get.trace"
cmp "$work/minutes.bin" "$work/fetched.bin"
echo "the fetched bytes match the sent ones"

step "Downloading it into a folder, under the name the service announces: zemuser download"
"$zemuser" download "$url" "$work/inbox" act=fetch session_id="$session" filename=minutes.bin \
  --trace "$work/download.trace"
echo "trace:"; sed 's/^/  /' "$work/download.trace"
cmp "$work/minutes.bin" "$work/inbox/minutes.bin"
echo "the downloaded bytes match the sent ones"

step "Stopping the file service"
kill -TERM "$service_pid"
wait "$service_pid"
service_pid=
echo "requests it served:"; sed 's/^/  /' "$work/service.log"

building=$((built_at - installed_at))
step "Demo passed in $SECONDS s" \
  "(installing $installed_at s, building $building s, the rest $((SECONDS - built_at)) s)"

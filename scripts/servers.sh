# Sourced by the stage scripts that run example programs against servers of their own.
# Needs $work (a scratch folder) and a fail function; stop_servers belongs in the EXIT trap.
server_pids=()

# start_server NAME COMMAND...: starts a server that prints "listening on URL" and sets
# server_url to that URL.
start_server() {
  local name=$1; shift
  "$@" > "$work/$name.out" 2> "$work/$name.log" &
  server_pids+=($!)
  for _ in $(seq 100); do
    grep -q '^listening on ' "$work/$name.out" && break
    kill -0 "${server_pids[-1]}" 2> /dev/null || { cat "$work/$name.log"; fail "$name did not start"; }
    sleep 0.1
  done
  server_url=$(sed -n 's/^listening on //p' "$work/$name.out")
  [[ -n $server_url ]] || fail "$name did not start"
}

stop_servers() {
  local pid
  for pid in "${server_pids[@]}"; do
    if kill -TERM "$pid" 2> /dev/null; then wait "$pid" 2> /dev/null || true; fi
  done
}

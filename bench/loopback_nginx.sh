# Sourced by the benchmark scripts: body files and nginx on 127.0.0.1, run as our child in the
# foreground with its own prefix, configuration and pid file in a temporary folder, stopped by
# its pid when the script exits. Sets `work` (the folder), `port` and `nginx_pid`.

for tool in /usr/sbin/nginx curl cmake; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zemuser-bench.XXXXXX")
nginx_pid=
port=
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill -TERM "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/docroot" "$work/scratch" "$work/settings" "$work/temp"

# Text without zero bytes, so that every fetch call can carry it.
make_body() {  # make_body <name> <bytes>
  # yes ends by SIGPIPE once head has enough, which pipefail would count as a failure.
  { yes 'zemuser benchmark body: 0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUV' \
      || true; } | head -c "$2" > "$work/docroot/$1"
}

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start_nginx() {  # start_nginx <port>: 0 once it accepts, 1 if it stopped
  local port=$1 user=
  [ "$(id -u)" = 0 ] && user="user root;"  # workers must read our private folder
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes $(nproc);
pid $work/nginx.pid;
error_log $work/error.log warn;
$user
events { worker_connections 1024; }
http {
    access_log off;
    log_format upload '\$request_length \$content_length \$status';
    client_body_temp_path $work/temp/body;
    proxy_temp_path $work/temp/proxy;
    fastcgi_temp_path $work/temp/fastcgi;
    uwsgi_temp_path $work/temp/uwsgi;
    scgi_temp_path $work/temp/scgi;
    default_type text/plain;
    sendfile on;
    client_max_body_size 0;
    server {
        listen 127.0.0.1:$port;
        root $work/docroot;
        # Downloads are POSTs; nginx refuses POST to a static file, so that becomes the file.
        error_page 405 =200 \$uri;
        # A location that answers with return would do so before reading the body; proxying
        # makes nginx read all of it first. The log shows how much of each body arrived.
        location = /upload {
            access_log $work/upload.log upload;
            proxy_pass http://127.0.0.1:$port/upload-done;
            proxy_pass_request_body off;
            proxy_set_header Content-Length "";
            proxy_set_header Content-Type "";
        }
        location = /upload-done { return 200 "OK\n"; }
    }
}
CONF
  /usr/sbin/nginx -p "$work" -e "$work/error.log" -c "$work/nginx.conf" > "$work/nginx.out" 2>&1 &
  nginx_pid=$!
  for _ in $(seq 100); do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then wait "$nginx_pid" || true; nginx_pid=; return 1; fi
    if curl -sf --noproxy '*' -o /dev/null "http://127.0.0.1:$port/body-1k.txt"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Starts nginx on a free port (body-1k.txt must exist) and points the benchmark program at it.
serve_on_loopback() {
  for _ in $(seq 10); do
    local candidate=$((20000 + RANDOM % 30000))
    port_in_use "$candidate" && continue
    if start_nginx "$candidate"; then port=$candidate; break; fi
  done
  [ -n "$port" ] || { echo "nginx did not start:"; cat "$work/error.log" "$work/nginx.out"; exit 1; }
  echo "nginx (pid $nginx_pid) on 127.0.0.1:$port"

  export ZEMUSER_BENCH_URL="http://127.0.0.1:$port"
  export ZEMUSER_BENCH_DATA="$work/docroot"
  export ZEMUSER_BENCH_SCRATCH="$work/scratch"
  export ZEMUSER_SETTINGS_DIR="$work/settings"  # the library's HTTP/1.1 settings stay in here
  unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY
  export no_proxy=127.0.0.1,localhost
}

# Release build of the benchmark program in build-bench (preset bench); sets `bench`.
build_bench() {
  local build=build-bench
  echo "=== build (preset bench: $build, Release)"
  mkdir -p "$build"
  cmake --preset bench > "$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
  cmake --build --preset bench -j 2 --target zemuser_bench
  bench="$PWD/$build/bench/zemuser_bench"
}

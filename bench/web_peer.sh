#!/usr/bin/env bash
# HTTPS checks per second of the web check against those of the check_http plugin of Debian's
# monitoring-plugins-basic (-S for TLS), run in this one script against nginx on 127.0.0.1 with
# a certificate made here, the processor time of one web check, and that of a bare TLS handshake
# (openssl s_time) beside it.
#
#   bench/web_peer.sh [path/to/web_bench] [plugin runs]
set -euo pipefail

BENCH="${1:-build-bench/bench/web_bench}"
RUNS="${2:-300}"
PLUGIN=/usr/lib/nagios/plugins/check_http
NGINX=/usr/sbin/nginx

[ -x "$BENCH" ] || { echo "no benchmark program at $BENCH (build with -DVARDO_BUILD_BENCH=ON)" >&2; exit 1; }
[ -x "$PLUGIN" ] || { echo "no $PLUGIN (Debian package monitoring-plugins-basic)" >&2; exit 1; }
[ -x "$NGINX" ] || { echo "no $NGINX (Debian package nginx-light)" >&2; exit 1; }

work="$(mktemp -d)"
nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$1" -keyout "$2" "${@:3}" 2>/dev/null; }
key /CN=bench-ca "$work/ca.key" -x509 -days 30 -out "$work/ca.pem"
key /CN=localhost "$work/server.key" -out "$work/server.csr"
printf 'subjectAltName=DNS:localhost\n' >"$work/ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
    -days 30 -extfile "$work/ext" -out "$work/server.pem" 2>/dev/null

# nginx cannot listen on port 0: take a free port from the system.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx.pid; error_log $work/error.log;
events { worker_connections 256; }
http {
  access_log off; client_body_temp_path $work/b; proxy_temp_path $work/p;
  fastcgi_temp_path $work/f; uwsgi_temp_path $work/u; scgi_temp_path $work/s;
  server {
    listen 127.0.0.1:$port ssl; ssl_certificate $work/server.pem; ssl_certificate_key $work/server.key;
    keepalive_requests 1000000;
    location / { return 200 "bench page"; }
  }
}
CONF
"$NGINX" -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

# The TLS handshake alone, as OpenSSL's own client makes it with a new session each time.
handshakes=$(timeout 30 openssl s_time -connect "127.0.0.1:$port" -new -time 3 2>/dev/null |
    awk '/connections\/user sec/ { sub(/;/, "", $5); print $5; exit }')

start=$(date +%s%N)
for ((i = 0; i < RUNS; i++)); do
    "$PLUGIN" -H localhost -I 127.0.0.1 -p "$port" -S -u / -s "bench page" >/dev/null ||
        { echo "check_http failed" >&2; exit 1; }
done
end=$(date +%s%N)
plugin=$(awk -v n="$RUNS" -v ns="$((end - start))" 'BEGIN { printf "%.1f", n / (ns / 1e9) }')

WEB_BENCH_URL="https://localhost:$port/" WEB_BENCH_CA="$work/ca.pem" \
    "$BENCH" --benchmark_format=json --benchmark_out="$work/web.json" --benchmark_out_format=json >/dev/null

# A value of one benchmark from the JSON report (times in microseconds).
value() {
    awk -v name="\"name\": \"$1" -v key="\"$2\":" '
        index($0, name) { inside = 1 }
        inside && index($0, key) { gsub(/[^0-9.e+-]/, "", $2); print $2; exit }
    ' FS=': ' "$work/web.json"
}

awk -v kept="$(value BM_HttpsCheckKeptConnection items_per_second)" \
    -v fresh="$(value BM_HttpsCheckNewConnection items_per_second)" \
    -v keptCpu="$(value BM_HttpsCheckKeptConnection cpu_time)" \
    -v freshCpu="$(value BM_HttpsCheckNewConnection cpu_time)" \
    -v plugin="$plugin" -v hs="$handshakes" 'BEGIN {
    printf "%-30s %12s %12s %8s %18s\n", "HTTPS checks per second", "web check", "check_http", "ratio", "CPU per check"
    printf "%-30s %12.0f %12.1f %7.1fx %15.1f us\n", "kept connection", kept, plugin, kept / plugin, keptCpu
    printf "%-30s %12.0f %12.1f %7.1fx %15.1f us\n", "new connection each time", fresh, plugin, fresh / plugin, freshCpu
    printf "openssl s_time -new: %.0f handshakes per second of its processor time (%.1f us each)\n", hs, 1e6 / hs
}'

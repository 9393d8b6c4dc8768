#!/usr/bin/env bash
# TCP checks per second of the probe against those of the check_tcp plugin of Debian's
# monitoring-plugins-basic, run in this one script against listeners on 127.0.0.1 and on ::1,
# and the processor share of a probe waiting on a silent peer.
#
#   bench/tcp_peer.sh [path/to/tcp_bench] [plugin runs per kind]
set -euo pipefail

BENCH="${1:-build-bench/bench/tcp_bench}"
RUNS="${2:-300}"
PLUGIN=/usr/lib/nagios/plugins/check_tcp

[ -x "$BENCH" ] || { echo "no benchmark program at $BENCH (build with -DVARDO_BUILD_BENCH=ON)" >&2; exit 1; }
[ -x "$PLUGIN" ] || { echo "no $PLUGIN (Debian package monitoring-plugins-basic)" >&2; exit 1; }

work="$(mktemp -d)"
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The plugin's peer: the benchmark program's greeting server, fed by a pipe that stays
# open until the end of the script.
mkfifo "$work/stdin"
"$BENCH" --serve <"$work/stdin" >"$work/port" &
server_pid=$!
exec 3>"$work/stdin"
for _ in $(seq 100); do [ "$(wc -l <"$work/port")" -ge 2 ] && break; sleep 0.05; done
port="$(sed -n 1p "$work/port")"
port6="$(sed -n 2p "$work/port")"

# Checks per second of `check_tcp ARGS...`, run RUNS times one after the other.
plugin_rate() {
    local start end i
    start=$(date +%s%N)
    for ((i = 0; i < RUNS; i++)); do
        "$PLUGIN" "$@" >/dev/null || { echo "check_tcp failed: $*" >&2; exit 1; }
    done
    end=$(date +%s%N)
    awk -v n="$RUNS" -v ns="$((end - start))" 'BEGIN { printf "%.1f", n / (ns / 1e9) }'
}

plugin_connect=$(plugin_rate -H 127.0.0.1 -p "$port")
plugin_receive=$(plugin_rate -H 127.0.0.1 -p "$port" -e "220")
plugin_connect6=$(plugin_rate -H ::1 -p "$port6")
plugin_receive6=$(plugin_rate -H ::1 -p "$port6" -e "220")
exec 3>&-

"$BENCH" --benchmark_format=json --benchmark_out="$work/probe.json" --benchmark_out_format=json >/dev/null

# A counter of one benchmark from the JSON report.
counter() {
    awk -v name="\"name\": \"$1" -v key="\"$2\":" '
        index($0, name) { inside = 1 }
        inside && index($0, key) { gsub(/[^0-9.e+-]/, "", $2); print $2; exit }
    ' FS=': ' "$work/probe.json"
}

probe_connect=$(counter BM_TcpConnectOnly/ipv4 items_per_second)
probe_receive=$(counter BM_TcpConnectReceive/ipv4 items_per_second)
probe_connect6=$(counter BM_TcpConnectOnly/ipv6 items_per_second)
probe_receive6=$(counter BM_TcpConnectReceive/ipv6 items_per_second)
cpu=$(counter BM_TcpSilentPeerWait cpu_percent)
cpu_closed=$(counter BM_TcpShortClosedReplyWait cpu_percent)

awk -v pc="$probe_connect" -v pr="$probe_receive" -v xc="$plugin_connect" -v xr="$plugin_receive" \
    -v pc6="$probe_connect6" -v pr6="$probe_receive6" -v xc6="$plugin_connect6" -v xr6="$plugin_receive6" \
    -v cpu="$cpu" -v cpu2="$cpu_closed" 'BEGIN {
    printf "%-29s %14s %14s %8s\n", "checks per second", "probe", "check_tcp", "ratio"
    printf "%-29s %14.0f %14.1f %7.1fx\n", "connect only", pc, xc, pc / xc
    printf "%-29s %14.0f %14.1f %7.1fx\n", "connect and receive", pr, xr, pr / xr
    printf "%-29s %14.0f %14.1f %7.1fx\n", "connect only, ::1", pc6, xc6, pc6 / xc6
    printf "%-29s %14.0f %14.1f %7.1fx\n", "connect and receive, ::1", pr6, xr6, pr6 / xr6
    printf "waiting on a silent peer: %.3f%% of one core\n", cpu
    printf "waiting for bytes a closed peer never sends: %.3f%% of one core\n", cpu2
}'

#!/usr/bin/env bash
# Echo round trips to 127.0.0.1 and to ::1 per second: the ping component (bench/PingBench.cpp)
# beside the same number of "fping -c1" runs, measured in this one script on this one machine.
#
#   bench/ping_peer.sh [path/to/ping_bench]      (COUNT=1000 by default)
#
# fping is a whole process per round trip, as the monitor's use of one request per check would
# be with an outside program; the ratio says what the in-process engine saves.
set -euo pipefail

BENCH="${1:-build-bench/bench/ping_bench}"
COUNT="${COUNT:-1000}"

if ! command -v fping >/dev/null; then
  echo "fping is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

json="$(VARDO_PING_COUNT="$COUNT" "$BENCH" --benchmark_format=json)"
# The rates and labels in the order of the benchmarks: 127.0.0.1, then ::1.
rates="$(printf '%s\n' "$json" | sed -n 's/.*"items_per_second": *\([0-9.eE+-]*\).*/\1/p')"
labels="$(printf '%s\n' "$json" | sed -n 's/.*"label": *"\([^"]*\)".*/\1/p')"
if [ "$(printf '%s\n' "$rates" | grep -c .)" -lt 2 ]; then
  printf '%s\n' "$json" >&2
  echo "the benchmark reported no rate for both addresses" >&2
  exit 1
fi

# compare ADDRESS N: the N-th benchmark's rate beside COUNT fping runs to ADDRESS.
compare() {
  local address="$1" ours label failed=0 start end
  ours="$(printf '%s\n' "$rates" | sed -n "$2p")"
  label="$(printf '%s\n' "$labels" | sed -n "$2p")"
  start="$(date +%s.%N)"
  for ((i = 0; i < COUNT; i++)); do
    fping -c1 -q "$address" 2>/dev/null || failed=$((failed + 1))
  done
  end="$(date +%s.%N)"
  awk -v n="$COUNT" -v s="$start" -v e="$end" -v ours="$ours" -v failed="$failed" -v label="$label" \
      -v address="$address" 'BEGIN {
    peer = n / (e - s)
    printf "round trips to %s, %d each\n", address, n
    printf "  TIcmpEcho::Ping (%s): %10.0f per second\n", label, ours
    printf "  fping -c1 runs:%*s%10.0f per second%s\n", length(label) + 8, "", peer, (failed ? sprintf(" (%d without reply)", failed) : "")
    printf "  ratio: %.1fx\n", ours / peer
  }'
}

compare 127.0.0.1 1
compare ::1 2

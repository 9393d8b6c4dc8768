#!/usr/bin/env bash
# Echo round trips to 127.0.0.1 per second: the ping component (bench/PingBench.cpp) beside
# the same number of "fping -c1" runs, measured in this one script on this one machine.
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
ours="$(printf '%s\n' "$json" | sed -n 's/.*"items_per_second": *\([0-9.eE+-]*\).*/\1/p' | head -n1)"
label="$(printf '%s\n' "$json" | sed -n 's/.*"label": *"\([^"]*\)".*/\1/p' | head -n1)"
if [ -z "$ours" ]; then
  printf '%s\n' "$json" >&2
  echo "the benchmark reported no rate" >&2
  exit 1
fi

failed=0
start="$(date +%s.%N)"
for ((i = 0; i < COUNT; i++)); do
  fping -c1 -q 127.0.0.1 2>/dev/null || failed=$((failed + 1))
done
end="$(date +%s.%N)"

awk -v n="$COUNT" -v s="$start" -v e="$end" -v ours="$ours" -v failed="$failed" -v label="$label" 'BEGIN {
  peer = n / (e - s)
  printf "round trips to 127.0.0.1, %d each\n", n
  printf "  TIcmpEcho::Ping (%s): %10.0f per second\n", label, ours
  printf "  fping -c1 runs:%*s%10.0f per second%s\n", length(label) + 8, "", peer, (failed ? sprintf(" (%d without reply)", failed) : "")
  printf "  ratio: %.1fx\n", ours / peer
}'

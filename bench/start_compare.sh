#!/usr/bin/env bash
# The two starts of rumelvb on a generated mixture whose classes are known:
# --start kmeans with few restarts against the random start with many.
# Per seed and start: the final free energy, the adjusted Rand index of the
# clusters against the generating classes (rumelvb's own evaluation, -E),
# and the CPU time of the run.
#
# Usage: bench/start_compare.sh [seed...]     (default seeds 1 2 3)
#   CASES=5000 CLASSES=15 RANDOM_RESTARTS=100 KMEANS_RESTARTS=10 BUILD=build
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
CASES=${CASES:-5000}
CLASSES=${CLASSES:-15}
RANDOM_RESTARTS=${RANDOM_RESTARTS:-100}
KMEANS_RESTARTS=${KMEANS_RESTARTS:-10}
SEEDS=("$@")
[ ${#SEEDS[@]} -eq 0 ] && SEEDS=(1 2 3)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
python3 "$ROOT/bench/gen_data.py" mixed mix --cases "$CASES" --attrs 30 --values 4 --dim 3 \
  --clusters "$CLASSES"

# Final free energy: the row after the SCORE header; ARI from the evaluation
# file (rows end in CR LF).
run() {
  local start=$1 restarts=$2 seed=$3
  /usr/bin/time -f "%U %S" -o time.txt "$BUILD/bin/rumelvb" -f mix -x 34 -u 30,31,32 -E 33 \
    -k "$CLASSES" -w 0.1 -n "$restarts" -r "$seed" --start "$start" -S
  local fe ari cpu
  fe=$(awk -F, '/^#### ID:SCORE/{s=1; next} s && !/^####/{print $2; exit}' mix_log.csv | tr -d '\r')
  ari=$(awk -F, '/^Adjusted Rand index/{print $2; exit}' mix_eval.csv | tr -d '\r')
  cpu=$(awk '{printf "%.1f", $1 + $2}' time.txt)
  printf "%-6s %-7s %8s %16s %10s %8s\n" "$seed" "$start" "$restarts" "$fe" "$ari" "$cpu"
}

printf "%-6s %-7s %8s %16s %10s %8s\n" seed start restarts "free energy" ARI "CPU s"
for seed in "${SEEDS[@]}"; do
  run random "$RANDOM_RESTARTS" "$seed"
  run kmeans "$KMEANS_RESTARTS" "$seed"
done

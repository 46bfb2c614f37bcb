#!/usr/bin/env bash
# Times reading a large case file: 1,000,000 lines of 10 discrete attributes
# (a few thousand distinct patterns, merged into entries) and 1,000,000 lines
# of 8 continuous attributes in one Gaussian block; with LARGE=1 also
# 10,000,000 lines of 4 continuous values in one block (gen_data.py
# continuous, about 340 MB; kept in the build directory once made).
#
# Usage: bench/read_cases.sh [build-dir]   (default: build-read-bench, Release)
#        LARGE=1 bench/read_cases.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-read-bench}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target veska_data_tests >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Pattern p (0..2999) fixes all ten values, so there are at most 3000
# distinct lines; one value in fifty is missing.
awk 'BEGIN { srand(1);
  for (i = 0; i < 1000000; i++) {
    p = int(rand() * 3000); line = "";
    for (k = 0; k < 10; k++) {
      v = (k == 3 && p % 50 == 0) ? "?" : "val" (int(p / (k + 1)) % (4 + 3 * k));
      line = line (k ? "," : "") v;
    }
    print line } }' > "$work/disc_freq.csv"

awk 'BEGIN { srand(2);
  for (i = 0; i < 1000000; i++) {
    line = "";
    for (k = 0; k < 8; k++) line = line (k ? "," : "") sprintf("%.5f", rand() * 20 - 10);
    print line } }' > "$work/cont_freq.csv"

run() {
  VESKA_BENCH_CASES="$1" VESKA_BENCH_ATTRS="$2" VESKA_BENCH_GAUSS="$3" \
    "$build/bin/veska_data_tests" --gtest_also_run_disabled_tests \
    --gtest_filter='ReadTiming.*' | grep '^read_cases:'
}

echo "10 discrete attributes, 1,000,000 lines ($(du -h "$work/disc_freq.csv" | cut -f1)):"
run "$work/disc_freq.csv" 10 0
echo "8 continuous attributes, 1,000,000 lines ($(du -h "$work/cont_freq.csv" | cut -f1)):"
run "$work/cont_freq.csv" 8 1
if [ "${LARGE:-0}" = 1 ]; then
  large="$build/bench-data/c_10000000_4"
  mkdir -p "$build/bench-data"
  [ -f "${large}_freq.csv" ] ||
    python3 bench/gen_data.py continuous "$large" --cases 10000000 --dim 4 --clusters 5 --seed 1
  echo "4 continuous attributes, 10,000,000 lines ($(du -h "${large}_freq.csv" | cut -f1)):"
  run "${large}_freq.csv" 4 1
fi

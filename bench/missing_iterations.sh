#!/usr/bin/env bash
# CPU time per iteration of rumelvb (VBEM) and rumel (EM) on mixed data with
# a share of the block values missing, against the same data with none
# missing, and their ratio.
#
# The data: CASES cases of three discrete attributes (4 values) and one
# DIM-dimensional block from five groups; the holed copy misses each block
# value with probability MISSING (the discrete values stay). Each figure is
# the difference between a run of 1 + ITERS iterations and a run of 1
# iteration, divided by ITERS (forced with a negative --epsilon), the better
# of two tries, as bench/vb_iterations.sh measures.
#
# Usage: bench/missing_iterations.sh
#        CASES=6000 MISSING=0.15 ITERS=100 BUILD=/path/to/build bench/missing_iterations.sh
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
ITERS=${ITERS:-100}
CASES=${CASES:-6000}
DIM=${DIM:-4}
K=${K:-5}
MISSING=${MISSING:-0.15}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if [ ! -x "$BUILD/bin/rumelvb" ] || [ ! -x "$BUILD/bin/rumel" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target rumelvb rumel >/dev/null
fi

python3 - "$WORK" "$CASES" "$DIM" "$MISSING" <<'EOF2'
import random, sys
work, cases, dim, missing = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
rng = random.Random(1)
centres = [[rng.uniform(-6, 6) for _ in range(dim)] for _ in range(5)]
with open(work + "/full_freq.csv", "w") as full, open(work + "/holed_freq.csv", "w") as holed:
    for _ in range(cases):
        c = rng.randrange(5)
        disc = ["v%d" % ((c + (rng.random() < 0.3) * rng.randrange(4)) % 4) for _ in range(3)]
        reals = ["%.6f" % rng.gauss(m, 1.0) for m in centres[c]]
        full.write(",".join(disc + reals) + "\n")
        holes = [("?" if rng.random() < missing else x) for x in reals]
        holed.write(",".join(disc + holes) + "\n")
for name in ("full", "holed"):
    with open(work + "/%s_name.txt" % name, "w") as f:
        for i in range(3): f.write("d%d\tnominal\n" % i)
        for i in range(dim): f.write("x%d\treal\n" % i)
EOF2

# cpu_ns PROGRAM NAME MAXITER: CPU time (user + system) of one run in ns.
cpu_ns() {
  local program=$1 name=$2 m=$3
  (cd "$WORK" && python3 - "$BUILD/bin/$program" -f "$name" -k "$K" -x $((3 + DIM)) \
      -u "3-$((2 + DIM))" -m "$m" -e -1 -r 1 -S <<'EOF3'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(round((r.ru_utime + r.ru_stime) * 1e9))
EOF3
  )
  grep -q "(Stopped: $m iters)" "$WORK/${name}_msg.txt" ||
    { echo "$program did not run exactly $m iterations on $name" >&2; exit 1; }
}

per_iter_ns() {  # PROGRAM NAME
  local best=""
  for _ in 1 2; do
    local one many d
    one=$(cpu_ns "$1" "$2" 1)
    many=$(cpu_ns "$1" "$2" $((ITERS + 1)))
    d=$(((many - one) / ITERS))
    if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
  done
  echo "$best"
}

echo "# cpu time per iteration, $CASES cases, a $DIM-D block, K = $K, $MISSING of block values missing"
for program in rumelvb rumel; do
  full=$(per_iter_ns "$program" full)
  holed=$(per_iter_ns "$program" holed)
  awk -v p="$program" -v f="$full" -v h="$holed" 'BEGIN {
    printf "%-8s none missing %8.3f ms/iter  missing %8.3f ms/iter  ratio %.2f\n", p, f / 1e6, h / 1e6, h / f }'
done

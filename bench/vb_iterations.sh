#!/usr/bin/env bash
# Time per VBEM iteration of rumelvb on generated data, and the same for
# scikit-learn's BayesianGaussianMixture (full covariances, Dirichlet
# distribution prior) as a point of comparison; and per EM iteration of
# rumel (maximum likelihood) against scikit-learn's GaussianMixture.
#
# Each figure is the difference between a run of 1 + ITERS iterations and a
# run of 1 iteration on the same data and seed, divided by ITERS, so reading
# the cases, the statistics, the initialisation and the output cancel out.
# The iteration count is forced with a negative --epsilon (no change of the
# free energy counts as convergence) and checked in the message file.
#
# Time is the CPU time (user + system) of the run, not the wall-clock time:
# on a machine shared with other work the wall clock also counts the time
# spent waiting for a core, which varied two-fold between runs of the same
# case. scikit-learn runs with one BLAS/OpenMP thread and is timed by its
# process CPU time, so both sides are single-threaded CPU costs. CLOCK=wall
# gives wall-clock times for both instead (scikit-learn with its default
# threads).
#
# Usage: bench/vb_iterations.sh            (all groups)
#        ITERS=50 BUILD=/path/to/build bench/vb_iterations.sh continuous discrete
# Groups: continuous discrete cases classes dims sklearn (rumelvb),
#         em-continuous em-discrete em-sklearn (rumel)
# The build directory is configured as Release when it has no programs yet.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
ITERS=${ITERS:-100}
SEED=${SEED:-1}
CLOCK=${CLOCK:-cpu}
case $CLOCK in cpu | wall) ;; *) echo "CLOCK must be cpu or wall" >&2; exit 1 ;; esac
GROUPS_TO_RUN=("$@")
[ ${#GROUPS_TO_RUN[@]} -eq 0 ] &&
  GROUPS_TO_RUN=(continuous discrete cases classes dims sklearn em-continuous em-discrete em-sklearn)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

if [ ! -x "$BUILD/bin/rumelvb" ] || [ ! -x "$BUILD/bin/rumel" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target rumelvb rumel >/dev/null
fi
# The program timed: rumelvb, or rumel for the em-* groups.
PROGRAM=rumelvb

# timed_ns COMMAND... : runs COMMAND (output discarded) and prints its time
# in ns, CPU or wall as CLOCK says.
timed_ns() {
  python3 - "$CLOCK" "$@" <<'EOF'
import resource, subprocess, sys, time
clock, cmd = sys.argv[1], sys.argv[2:]
start = time.perf_counter_ns()
subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
wall = time.perf_counter_ns() - start
r = resource.getrusage(resource.RUSAGE_CHILDREN)
print(wall if clock == "wall" else round((r.ru_utime + r.ru_stime) * 1e9))
EOF
}

# gen KIND NAME ARGS... : a case file in $WORK, made once.
gen() {
  local kind=$1 name=$2
  shift 2
  [ -f "$WORK/${name}_freq.csv" ] || python3 "$ROOT/bench/gen_data.py" "$kind" "$WORK/$name" "$@"
}

# run_ns NAME MAXITER ARGS... : time of one run of $PROGRAM in ns.
run_ns() {
  local name=$1 m=$2
  shift 2
  local ns
  ns=$(cd "$WORK" && timed_ns "$BUILD/bin/$PROGRAM" -f "$name" -m "$m" -e -1 -r "$SEED" -S "$@")
  if ! grep -q "(Stopped: $m iters)" "$WORK/${name}_msg.txt"; then
    echo "$PROGRAM did not run exactly $m iterations on $name" >&2
    exit 1
  fi
  echo "$ns"
}

# per_iter_ns NAME ARGS... : ns per iteration, the better of two tries.
per_iter_ns() {
  local name=$1
  shift
  local best=""
  for _ in 1 2; do
    local one many
    one=$(run_ns "$name" 1 "$@")
    many=$(run_ns "$name" $((ITERS + 1)) "$@")
    local d=$(((many - one) / ITERS))
    if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
  done
  echo "$best"
}

# report LABEL NS_PER_ITER UNITS UNIT_NAME
report() {
  awk -v label="$1" -v ns="$2" -v units="$3" -v unit="$4" 'BEGIN {
    printf "%-44s %10.3f ms/iter  %8.2f ns per %s\n", label, ns / 1e6, ns / units, unit }'
}

continuous_case() {  # N D K
  local n=$1 d=$2 k=$3 name="c_${1}_${2}_${3}"
  gen continuous "$name" --cases "$n" --dim "$d" --clusters 5 --seed "$SEED"
  local ns
  ns=$(per_iter_ns "$name" -k "$k" -x "$d" -u "0-$((d - 1))")
  report "$PROGRAM continuous N=$n D=$d K=$k" "$ns" "$((n * k))" "case*class"
}

discrete_case() {  # N A V K
  local n=$1 a=$2 v=$3 k=$4 name="d_${1}_${2}_${3}_${4}"
  gen discrete "$name" --cases "$n" --attrs "$a" --values "$v" --clusters "$k" --seed "$SEED"
  local ns
  ns=$(per_iter_ns "$name" -k "$k" -x "$a")
  report "$PROGRAM discrete N=$n A=$a V=$v K=$k" "$ns" "$((n * k * a))" "case*class*attr"
}

# sklearn_case N D K [MODEL]: BayesianGaussianMixture, or GaussianMixture
# (plain EM) with MODEL "em".
sklearn_case() {
  local n=$1 d=$2 k=$3 model=${4:-vb} name="c_${1}_${2}_${3}"
  gen continuous "$name" --cases "$n" --dim "$d" --clusters 5 --seed "$SEED"
  # Debian's interpreter: the package installs for it, whatever python3
  # comes first on the PATH.
  local py=/usr/bin/python3
  if ! "$py" -c "import sklearn" 2>/dev/null; then
    apt-get install -y python3-sklearn >/dev/null
  fi
  # CPU time counts every thread: one BLAS/OpenMP thread makes it the cost of
  # a single-threaded run, as rumelvb's is. The wall clock lets them run.
  local threads=()
  [ "$CLOCK" = cpu ] && threads=(OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1)
  local ns
  ns=$(env "${threads[@]}" "$py" - "$WORK/${name}_freq.csv" "$k" "$ITERS" "$SEED" "$CLOCK" "$model" <<'EOF'
import sys, time, warnings
import numpy as np
from sklearn.mixture import BayesianGaussianMixture, GaussianMixture
from sklearn.exceptions import ConvergenceWarning
warnings.simplefilter("ignore", ConvergenceWarning)
path, k, iters, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
clock = time.perf_counter_ns if sys.argv[5] == "wall" else time.process_time_ns
em = sys.argv[6] == "em"
x = np.loadtxt(path, delimiter=",", ndmin=2)
def fit(m):
    if em:
        g = GaussianMixture(n_components=k, covariance_type="full", max_iter=m, tol=0.0,
                            n_init=1, random_state=seed)
    else:
        g = BayesianGaussianMixture(n_components=k, covariance_type="full",
                                    weight_concentration_prior_type="dirichlet_distribution",
                                    max_iter=m, tol=0.0, n_init=1, random_state=seed)
    start = clock()
    g.fit(x)
    took = clock() - start
    assert g.n_iter_ == m, (g.n_iter_, m)
    return took
best = None
for _ in range(2):
    d = (fit(1 + iters) - fit(1)) // iters
    best = d if best is None else min(best, d)
print(best)
EOF
)
  local label="sklearn BGM"
  [ "$model" = em ] && label="sklearn GaussianMixture"
  report "$label N=$n D=$d K=$k" "$ns" "$((n * k))" "case*class"
}

echo "# $CLOCK time per iteration"
for group in "${GROUPS_TO_RUN[@]}"; do
  case $group in
    continuous) continuous_case 100000 4 5 ;;
    discrete) discrete_case 100000 20 5 10 ;;
    cases) for n in 1000 10000 100000 1000000; do continuous_case "$n" 4 5; done ;;
    classes) for k in 2 5 10 20; do continuous_case 100000 4 "$k"; done ;;
    dims) for d in 1 2 4 8 16; do continuous_case 100000 "$d" 5; done ;;
    sklearn) sklearn_case 100000 4 5; sklearn_case 1000000 4 5 ;;
    em-continuous) PROGRAM=rumel continuous_case 100000 4 5 ;;
    em-discrete) PROGRAM=rumel discrete_case 100000 20 5 10 ;;
    em-sklearn) sklearn_case 100000 4 5 em ;;
    *) echo "unknown group: $group" >&2; exit 1 ;;
  esac
done

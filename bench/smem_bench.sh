#!/usr/bin/env bash
# Cost of split-and-merge in rumelvb and rumel: K = 8 on 100,000 generated
# cases (one block of 4 continuous attributes, 8 groups), against plain VBEM
# or EM.
#
# Reported per program, each the better of two tries, in CPU time (user +
# system) of the program's process:
#   full iteration     one VBEM / EM iteration on all K classes;
#   partial iteration  one iteration of a candidate's partial run on its
#                      three classes;
#   VBEM / EM run      one restart run to convergence (default --epsilon);
#   operation          one split-and-merge operation that examines one
#                      candidate (-o 1 -a 1): memberships, criteria and
#                      ranking, the candidate's partial run and its full run.
# Iteration costs are differences of runs that differ only in the number of
# iterations, forced with a negative --epsilon, so reading the cases and the
# output cancel out. The run and operation times are differences against a
# run of one iteration (-m 1) and against the same run without -o.
#
# Usage: bench/smem_bench.sh
#        N=20000 K=6 PROGRAMS=rumel BUILD=/path/to/build bench/smem_bench.sh
# The build directory is configured as Release when it has none yet, and
# the programs are brought up to date in it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
N=${N:-100000}
K=${K:-8}
SEED=${SEED:-1}
PROGRAMS=${PROGRAMS:-rumelvb rumel}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
for p in $PROGRAMS; do cmake --build "$BUILD" -j2 --target "$p" >/dev/null; done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
python3 "$ROOT/bench/gen_data.py" continuous "$WORK/smem" --cases "$N" --dim 4 --clusters "$K" --seed "$SEED"

for PROGRAM in $PROGRAMS; do
python3 - "$BUILD/bin/$PROGRAM" "$WORK" "$K" "$SEED" <<'EOF'
import os, re, resource, subprocess, sys

rumelvb, work, K, seed = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
vb = os.path.basename(rumelvb) == "rumelvb"
base = ["-f", "smem", "-k", K, "-x", "4", "-u", "0-3", "-r", seed, "-S"]
stat_id = "SMEM-STAT-EM-K" if vb else "SMEM-EM-STAT-K"
fit = "VBEM" if vb else "EM"

def cpu(args):
    """CPU seconds of one run, and its message and log texts."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([rumelvb] + base + args, cwd=work, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    msg = open(os.path.join(work, "smem_msg.txt"), encoding="latin-1", newline="").read()
    log = open(os.path.join(work, "smem_log.csv"), encoding="latin-1", newline="").read()
    return t, msg, log

def best(args):
    runs = [cpu(args) for _ in range(2)]
    return min(r[0] for r in runs), runs[0][1], runs[0][2]

def candidate_updates(msg):
    """(partial, full) updates of the first candidate examined."""
    line = msg.split("[Op=1]")[1]
    p = int(re.search(r"\((?:C|S):(\d+)\)", line).group(1))
    q = int(re.search(r"\((?:Converged|Stopped): (\d+) iters\)", line).group(1))
    return p, q - p

def restart_updates(log):
    rows = log.split("#### ID:%s%s" % (stat_id, K))[1].split("####\r\n", 1)[1].split("\r\n")
    return int(rows[0].split(",")[3])

M1, M2 = 11, 41
# Full iterations: plain runs of M1 and M2 iterations.
f1, msg, _ = best(["-m", str(M1), "-e", "-1"])
assert "(Stopped: %d iters)" % M1 in msg, msg
f2, msg, _ = best(["-m", str(M2), "-e", "-1"])
full_iter = (f2 - f1) / (M2 - M1)

# Partial iterations: one candidate whose partial run goes to the limit M,
# then one full iteration; minus the plain run of M iterations.
def one_candidate(m):
    t, msg, log = best(["-m", str(m), "-e", "-1", "-o", "1", "-a", "1"])
    assert "(S:%d)" % m in msg, msg
    return t
p1 = one_candidate(M1) - f1
p2 = one_candidate(M2) - f2
partial_iter = (p2 - p1) / (M2 - M1)

# A VBEM run and one operation at the default --epsilon.
t_one, _, _ = best(["-m", "1"])
t_plain, msg, _ = best([])
iters = int(re.search(r"\(Converged: (\d+) iters\)", msg).group(1))
t_smem, msg, log = best(["-o", "1", "-a", "1"])
restart = restart_updates(log)
p, f = candidate_updates(msg)
run = t_plain - t_one
# The restart phase may run a few iterations more than the plain run (a
# fall of F within rounding does not end it); those are not the operation's.
operation = t_smem - t_plain - (restart - iters) * full_iter

print("%s: K=%s, %d cases, one 4-d block" % (os.path.basename(rumelvb), K, sum(1 for _ in open(os.path.join(work, "smem_freq.csv")))))
print("full iteration     %8.2f ms" % (1e3 * full_iter))
print("partial iteration  %8.2f ms  (%.2f of a full iteration; 3/K = %.2f)"
      % (1e3 * partial_iter, partial_iter / full_iter, 3.0 / int(K)))
print("%-18s %8.2f ms  (%d iterations)" % (fit + " run", 1e3 * run, iters))
print("operation          %8.2f ms  (%.2f of the %s run; %d partial + %d full iterations)"
      % (1e3 * operation, operation / run, fit, p, f))
EOF
done

#!/usr/bin/python3
"""Time per iteration of rumelvb and rumel side by side with scikit-learn's
BayesianGaussianMixture and GaussianMixture, on the same generated data and
the same iteration count, and how each scales in cases, classes, block
dimension and threads. Run through bench/compare_sklearn.sh.

Every figure is the difference between a run of 3 + M iterations and a run of
3 iterations on the same data and seed, divided by M, so reading the cases,
the start and the output cancel out. M is chosen per case so that the M
iterations take about --target seconds and at least as long as the run of 3
iterations (at least 3, at most 2000): on 10^6 cases and more the work
around the fit (reading, the sample statistics, the memberships, a cluster
file of a gigabyte) varies between runs by more than a few iterations take. VESKA's
iteration count is forced with a negative --epsilon and checked in its
message file; scikit-learn's with tol = 0 and checked in n_iter_.

Both the CPU time (user + system) and the wall-clock time are recorded. One
thread: the CPU time, which on a machine shared with other work does not
count the time spent waiting for a core. Two threads: the wall-clock time
(their CPU time is the sum of both threads). scikit-learn runs with one
BLAS/OpenMP thread (OMP/OPENBLAS/MKL_NUM_THREADS = 1, set before numpy is
loaded) and is timed inside its process around fit(), so loading the data
does not count on either side.
"""

import argparse
import csv
import json
import os
import re
import resource
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKLEARN_PY = "/usr/bin/python3"  # Debian's interpreter: it has scikit-learn
THREAD_VARS = ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS")


# ----------------------------------------------------------------------------
# The scikit-learn side, run in a process of its own per data file.

def sklearn_worker(path, k, models, target, tries, seed):
    import warnings
    import numpy as np
    from sklearn.exceptions import ConvergenceWarning
    from sklearn.mixture import BayesianGaussianMixture, GaussianMixture

    warnings.simplefilter("ignore", ConvergenceWarning)
    cache = path + ".npy"
    if os.path.exists(cache) and os.path.getmtime(cache) >= os.path.getmtime(path):
        x = np.load(cache)
    else:
        x = np.loadtxt(path, delimiter=",", ndmin=2)
        np.save(cache, x)

    def fit(model, m):
        # The start draws points of the data as means: its cost is the same
        # in both runs and cancels, and it is cheap on 10^7 cases.
        common = dict(n_components=k, covariance_type="full", max_iter=m, tol=0.0, n_init=1,
                      init_params="random_from_data", random_state=seed)
        if model == "sklearn-gm":
            g = GaussianMixture(**common)
        else:
            g = BayesianGaussianMixture(weight_concentration_prior_type="dirichlet_distribution",
                                        **common)
        c0, w0 = time.process_time_ns(), time.perf_counter_ns()
        g.fit(x)
        c1, w1 = time.process_time_ns(), time.perf_counter_ns()
        assert g.n_iter_ == m, (g.n_iter_, m)
        return c1 - c0, w1 - w0

    for model in models:
        result = measure(lambda m: fit(model, m), target, tries)
        print(json.dumps(dict(program=model, **result)), flush=True)


# ----------------------------------------------------------------------------
# The measurement both sides share.

# Iterations of the shorter run of each difference. Not 1: on 10^6 cases and
# more, what follows the fit (memberships, clusters) costs measurably more
# after one iteration from the start than after a few, which would make the
# difference too small, even negative.
BASE_ITERS = 3
# Enough for 10^3 cases, whose iterations take tens of microseconds, to stand
# out of the noise of starting a process.
MAX_ITERS = 2000
# The share of the target a pilot run's extra iterations must take.
PILOT_SHARE = 0.1
# The timed iterations take at least this many times the fixed work of a
# run (the run of BASE_ITERS), whose noise would otherwise swamp them.
FIXED_SHARE = 1.0


def measure(run, target, tries):
    """Per-iteration CPU and wall ns of run(m) -> (cpu_ns, wall_ns): the
    difference of the best of `tries` runs of BASE_ITERS + M iterations and
    of BASE_ITERS iterations, over M."""
    base = run(BASE_ITERS)
    # The pilot grows fourfold until its extra iterations take a tenth of the
    # target: three iterations of 10^3 cases are below the noise of starting
    # a process, and a pilot lost in that noise picked M = 3 (or a negative
    # figure).
    pilot_m, pilot_run = 0, None
    p = 3
    while p <= MAX_ITERS:
        try:
            r = run(BASE_ITERS + p)
        except RuntimeError:
            # The fit stops early (rumel: a collapsing class on few cases).
            if pilot_run is None:
                raise
            break
        pilot_m, pilot_run = p, r
        if r[0] - base[0] >= PILOT_SHARE * target * 1e9:
            break
        p *= 4
    pilot = (pilot_run[0] - base[0]) / pilot_m
    timed_ns = max(target * 1e9, FIXED_SHARE * base[0])
    m = pilot_m if pilot <= 0 else max(3, min(MAX_ITERS, round(timed_ns / pilot)))
    try:
        many = pilot_run if m == pilot_m else run(BASE_ITERS + m)
    except RuntimeError:
        # Stopped early at M: the pilot is the figure, if it stands out of
        # the noise (rumel on 10^3 cases loses a class after some 20
        # iterations, which take less than starting the process varies by).
        if pilot_run[0] - base[0] < PILOT_SHARE * target * 1e9:
            raise RuntimeError("the fit stops after fewer than %d iterations, too few to time"
                               % (4 * pilot_m))
        m, many, tries = pilot_m, pilot_run, 1
    # The least time of each run length, then their difference: the least
    # difference would pick a try whose short run was slowed down.
    base_cpu, base_wall, many_cpu, many_wall = base[0], base[1], many[0], many[1]
    for _ in range(tries - 1):
        base, many = run(BASE_ITERS), run(BASE_ITERS + m)
        base_cpu, base_wall = min(base_cpu, base[0]), min(base_wall, base[1])
        many_cpu, many_wall = min(many_cpu, many[0]), min(many_wall, many[1])
    return dict(iters=m, cpu_ns=(many_cpu - base_cpu) / m, wall_ns=(many_wall - base_wall) / m)


# ----------------------------------------------------------------------------
# The VESKA side.

class Veska:
    def __init__(self, build, work, seed):
        self.build, self.work, self.seed = build, work, seed
        help_text = subprocess.run([os.path.join(build, "bin", "rumelvb"), "-X"],
                                   capture_output=True, text=True, errors="replace")
        self.has_threads = "--threads" in help_text.stdout + help_text.stderr

    def args(self, program, name, k, dim, threads, m):
        args = [os.path.join(self.build, "bin", program), "-f", name, "-k", str(k), "-x", str(dim),
                "-u", "0-%d" % (dim - 1), "-m", str(m), "-e", "-1", "-r", str(self.seed), "-S"]
        if self.has_threads:
            args += ["--threads", str(threads)]
        return args

    def check_iterations(self, program, name, m):
        with open(os.path.join(self.work, name + "_msg.txt"), encoding="latin-1") as f:
            if "(Stopped: %d iters)" % m not in f.read():
                raise RuntimeError("%s did not run exactly %d iterations on %s" % (program, m, name))

    def run(self, program, name, k, dim, threads, m):
        args = self.args(program, name, k, dim, threads, m)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        w0 = time.perf_counter_ns()
        subprocess.run(args, cwd=self.work, check=True, stdout=subprocess.DEVNULL)
        w1 = time.perf_counter_ns()
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        self.check_iterations(program, name, m)
        return round(cpu * 1e9), w1 - w0

    def peak_kb(self, program, name, k, dim, m):
        """Maximum resident set size in kB of one run (one thread)."""
        out = subprocess.run(["/usr/bin/time", "-v"] + self.args(program, name, k, dim, 1, m),
                             cwd=self.work, check=True, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True).stderr
        self.check_iterations(program, name, m)
        return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", out).group(1))


def data_file(work, n, dim):
    """The generated case file of n cases in one dim-D block (five groups),
    made once and kept in the data folder."""
    name = "c_%d_%d" % (n, dim)
    path = os.path.join(work, name + "_freq.csv")
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_data.py"), "continuous",
                        os.path.join(work, name), "--cases", str(n), "--dim", str(dim),
                        "--clusters", "5", "--seed", "1"], check=True)
    return name, path


# ----------------------------------------------------------------------------
# The plan and its report.

FIELDS = ["sweep", "program", "threads", "cases", "dim", "K", "iters", "cpu_ms_per_iter",
          "wall_ms_per_iter", "ns_per_case_class"]


def plan(quick):
    """(sweep, cases, dim, K, with scikit-learn) of every point."""
    if quick:
        points = [("cases", n, 4, 5, True) for n in (1000, 10000, 100000)]
        points += [("classes", 100000, 4, k, k != 5) for k in (2, 20)]
        points += [("dims", 100000, d, 5, d != 4) for d in (1, 16)]
        return points
    points = [("cases", n, 4, 5, n <= 1000000) for n in (1000, 10000, 100000, 1000000, 10000000)]
    points += [("classes", 100000, 4, k, True) for k in (2, 10, 20, 50)]
    points += [("dims", 100000, d, 5, True) for d in (1, 2, 8, 16)]
    return points


# Bytes per entry of a case table of one D-dimensional block and nothing
# else: the CaseEntry record (five ints, four pointers), its ints (missing
# and observed flags per value, the block's missing count), its values and
# the Vector view of the block.
def case_table_bytes(dim):
    return 56 + 4 * (2 * dim + 1) + 8 * dim + 16


def memory_table(veska, data, sizes, k, dim, iters):
    """Peak resident memory (/usr/bin/time -v) of both programs on n cases of
    one dim-D block, K = k, `iters` forced iterations, against the bound of
    the case table plus K x entries x 2 doubles."""
    per_entry = case_table_bytes(dim) + 2 * 8 * k
    print("# peak resident memory, one %d-D block, K = %d, %d iterations; bound per entry: "
          "case table %d B + 2K doubles %d B = %d B" % (dim, k, iters, case_table_bytes(dim), 16 * k,
                                                         per_entry))
    print("%10s %10s %14s %14s %14s" % ("cases", "bound MB", "rumelvb MB", "rumel MB", ""))
    peaks = {}
    for n in sizes:
        name, path = data_file(data, n, dim)
        link = os.path.join(veska.work, name + "_freq.csv")
        if not os.path.exists(link):
            os.symlink(path, link)
        line = "%10d %10.1f" % (n, per_entry * n / 1e6)
        for program in ("rumelvb", "rumel"):
            peaks[(program, n)] = veska.peak_kb(program, name, k, dim, iters)
            line += " %14.1f" % (peaks[(program, n)] / 1e3)
        print(line)
    if len(sizes) > 1:
        lo, hi = sizes[-2], sizes[-1]
        for program in ("rumelvb", "rumel"):
            slope = (peaks[(program, hi)] - peaks[(program, lo)]) * 1e3 / (hi - lo)
            print("# %s: %.1f B per entry between %d and %d cases (bound %d B), %.1f MB at %d cases"
                  % (program, slope, lo, hi, per_entry, peaks[(program, sizes[0])] / 1e3, sizes[0]))
    return peaks


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--quick", action="store_true", help="fewer points, one try, shorter runs")
    p.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    p.add_argument("--data", help="folder of the generated data (kept between runs)")
    p.add_argument("--csv", default=None, help="where the figures go (default: bench-results.csv in the build)")
    p.add_argument("--target", type=float, help="seconds of the timed iterations per figure")
    p.add_argument("--tries", type=int, help="best of this many differences")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--sweeps", default="cases,classes,dims",
                   help="which of the sweeps cases, classes, dims to run (comma-separated)")
    p.add_argument("--memory", action="store_true",
                   help="peak resident memory of 10^4 to 10^7 cases instead of the times")
    p.add_argument("--sklearn-worker", nargs=6, metavar=("FILE", "K", "MODELS", "TARGET", "TRIES", "SEED"),
                   help=argparse.SUPPRESS)
    a = p.parse_args(argv)
    a.build = os.path.abspath(a.build)
    if a.sklearn_worker:
        f, k, models, target, tries, seed = a.sklearn_worker
        sklearn_worker(f, int(k), models.split(","), float(target), int(tries), int(seed))
        return 0

    target = a.target if a.target is not None else (0.3 if a.quick else 1.0)
    tries = a.tries if a.tries is not None else (1 if a.quick else 2)
    data = a.data or os.path.join(a.build, "bench-data")
    os.makedirs(data, exist_ok=True)
    out_csv = a.csv or os.path.join(a.build, "bench-results.csv")
    if a.memory:
        # A folder of its own, so that the outputs of a timing run on the
        # same data at the same time do not mix with these.
        veska = Veska(a.build, os.path.join(data, "memory"), a.seed)
        os.makedirs(veska.work, exist_ok=True)
        sizes = (10000, 100000, 1000000) if a.quick else (10000, 100000, 1000000, 10000000)
        memory_table(veska, data, sizes, 5, 4, 3)
        return 0
    veska = Veska(a.build, data, a.seed)
    thread_counts = (1, 2) if veska.has_threads else (1,)
    started = time.perf_counter()
    print("# %s; %s; target %.2f s of iterations per figure, best of %d"
          % ("quick" if a.quick else "full", "one thread on both sides", target, tries))
    if not veska.has_threads:
        print("# rumelvb -X lists no --threads: VESKA runs single-threaded, no 2-thread figures")

    rows = []
    done = set()

    def add(sweep, program, threads, n, dim, k, r):
        row = dict(sweep=sweep, program=program, threads=threads, cases=n, dim=dim, K=k,
                   iters=r["iters"], cpu_ms_per_iter="%.4f" % (r["cpu_ns"] / 1e6),
                   wall_ms_per_iter="%.4f" % (r["wall_ns"] / 1e6),
                   ns_per_case_class="%.3f" % ((r["wall_ns"] if threads > 1 else r["cpu_ns"]) / (n * k)))
        rows.append(row)
        return row

    sweeps = a.sweeps.split(",")
    for sweep, n, dim, k, with_sklearn in plan(a.quick):
        if sweep not in sweeps:
            continue
        name, path = data_file(data, n, dim)
        # The side-by-side point (10^5 cases, 4-D, K = 5) belongs to every sweep.
        key = (n, dim, k)
        if key in done:
            continue
        done.add(key)
        figures = {}
        for program in ("rumelvb", "rumel"):
            for t in thread_counts:
                try:
                    r = measure(lambda m: veska.run(program, name, k, dim, t, m), target, tries)
                except (RuntimeError, subprocess.CalledProcessError) as e:
                    print("# %s N=%d D=%d K=%d threads=%d: %s" % (program, n, dim, k, t, e))
                    continue
                figures[(program, t)] = add(sweep, program, t, n, dim, k, r)
        if with_sklearn:
            env = dict(os.environ, **{v: "1" for v in THREAD_VARS})
            out = subprocess.run([SKLEARN_PY, os.path.abspath(__file__), "--sklearn-worker", path, str(k),
                                  "sklearn-bgm,sklearn-gm", str(target), str(tries), str(a.seed)],
                                 env=env, check=True, capture_output=True, text=True).stdout
            for line in out.splitlines():
                r = json.loads(line)
                figures[(r["program"], 1)] = add(sweep, r["program"], 1, n, dim, k, r)
        print_point(n, dim, k, figures, thread_counts)
        sys.stdout.flush()
        # Written after every point, so that a run cut short keeps its figures.
        with open(out_csv, "w", newline="") as f:
            w = csv.DictWriter(f, fieldnames=FIELDS)
            w.writeheader()
            w.writerows(rows)

    print("# %d figures in %s; %.0f s in all" % (len(rows), out_csv, time.perf_counter() - started))
    return 0


def print_point(n, dim, k, figures, thread_counts):
    def ms(program, t):
        row = figures.get((program, t))
        if row is None:
            return None
        return float(row["wall_ms_per_iter"] if t > 1 else row["cpu_ms_per_iter"])

    parts = []
    for program, ref in (("rumelvb", "sklearn-bgm"), ("rumel", "sklearn-gm")):
        one = ms(program, 1)
        text = "%s %s" % (program, "n/a" if one is None else "%.3f ms" % one)
        if one is not None:
            text += " (%.2f ns/case*class)" % (one * 1e6 / (n * k))
        theirs = ms(ref, 1)
        if theirs is not None:
            text += ", %s %.3f ms" % (ref, theirs)
            if one:
                text += ", %.1fx faster" % (theirs / one)
        two = ms(program, 2) if 2 in thread_counts else None
        one_wall = figures.get((program, 1))
        if two is not None and one_wall is not None:
            text += ", 2 threads %.3f ms wall (%.2fx the wall time of 1)" % (
                two, float(one_wall["wall_ms_per_iter"]) / two)
        parts.append(text)
    print("N=%-8d D=%-2d K=%-2d | %s" % (n, dim, k, " | ".join(parts)))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

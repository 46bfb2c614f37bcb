#!/usr/bin/python3
"""Time per iteration against the number of cases (log-log) from the CSV that
bench/compare_sklearn.sh writes: rumelvb and rumel at one thread (CPU time)
and at two threads (wall-clock time) and scikit-learn's
BayesianGaussianMixture and GaussianMixture (one thread, CPU time).

    /usr/bin/python3 bench/plot_scaling.py build-bench/bench-results.csv docs/scaling.png
"""

import csv
import sys

import matplotlib

matplotlib.use("Agg")  # no display: write the file only
import matplotlib.pyplot as plt  # noqa: E402

# (program, threads) -> label, colour, line style. Okabe-Ito colours, as the
# report uses; VB solid, EM dashed.
SERIES = [
    ("rumelvb", 1, "rumelvb, 1 thread", "#0072B2", "-", "o"),
    ("rumelvb", 2, "rumelvb, 2 threads (wall)", "#56B4E9", "-", "s"),
    ("sklearn-bgm", 1, "BayesianGaussianMixture", "#D55E00", "-", "^"),
    ("rumel", 1, "rumel, 1 thread", "#009E73", "--", "o"),
    ("rumel", 2, "rumel, 2 threads (wall)", "#8FD9B6", "--", "s"),
    ("sklearn-gm", 1, "GaussianMixture", "#E69F00", "--", "^"),
]


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 1
    with open(argv[0], newline="") as f:
        rows = [r for r in csv.DictReader(f) if r["sweep"] == "cases"]
    if not rows:
        print("no rows of the cases sweep in %s" % argv[0], file=sys.stderr)
        return 1
    dims = sorted({r["dim"] for r in rows})
    ks = sorted({r["K"] for r in rows})

    fig, ax = plt.subplots(figsize=(7.5, 5.0), dpi=120)
    for program, threads, label, colour, style, marker in SERIES:
        points = sorted(
            (int(r["cases"]), float(r["wall_ms_per_iter"] if threads > 1 else r["cpu_ms_per_iter"]))
            for r in rows if r["program"] == program and int(r["threads"]) == threads)
        if not points:
            continue
        ax.plot([p[0] for p in points], [p[1] for p in points], style, marker=marker, color=colour,
                label=label, linewidth=1.6, markersize=5)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("cases")
    ax.set_ylabel("ms per iteration")
    ax.set_title("Time per iteration, one %s-D block, K = %s (full covariances)"
                 % ("/".join(dims), "/".join(ks)))
    ax.grid(True, which="major", linewidth=0.5, alpha=0.6)
    ax.grid(True, which="minor", linewidth=0.3, alpha=0.3)
    ax.legend(loc="upper left", fontsize=9)
    fig.tight_layout()
    fig.savefig(argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

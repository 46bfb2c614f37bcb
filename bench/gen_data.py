#!/usr/bin/env python3
"""Synthetic case files for the timing scripts.

Writes BASENAME_freq.csv: a mixture of CLUSTERS well-separated groups, either
continuous (one block of DIM real attributes, Gaussian around per-cluster
centres) or discrete (ATTRS attributes of VALUES values each, every cluster
preferring its own value per attribute). The same arguments always give the
same bytes.

    gen_data.py continuous BASENAME --cases 100000 --dim 4 --clusters 5
    gen_data.py discrete BASENAME --cases 100000 --attrs 20 --values 5 --clusters 10
    gen_data.py mixed BASENAME --cases 5000 --attrs 30 --values 4 --dim 3 --clusters 15

The mixed kind writes ATTRS discrete attributes, then a block of DIM real
attributes, then the generating cluster as a last column ("c0", "c1", ...)
for evaluation with -E.
"""

import argparse
import random
import sys


def continuous_rows(rng, cases, dim, clusters):
    centres = [[rng.uniform(-10.0, 10.0) for _ in range(dim)] for _ in range(clusters)]
    scales = [rng.uniform(0.5, 1.5) for _ in range(clusters)]
    for _ in range(cases):
        c = rng.randrange(clusters)
        yield ",".join("%.6g" % rng.gauss(mu, scales[c]) for mu in centres[c])


def discrete_rows(rng, cases, attrs, values, clusters):
    # Each cluster draws its favourite value with probability 0.6, any value
    # otherwise.
    favourite = [[rng.randrange(values) for _ in range(attrs)] for _ in range(clusters)]
    names = ["v%d" % v for v in range(values)]
    for _ in range(cases):
        c = rng.randrange(clusters)
        row = []
        for a in range(attrs):
            v = favourite[c][a] if rng.random() < 0.6 else rng.randrange(values)
            row.append(names[v])
        yield ",".join(row)


def mixed_rows(rng, cases, attrs, values, dim, clusters):
    # Discrete attributes as in discrete_rows; the block around centres
    # closer together than in continuous_rows, so that neither part alone
    # separates every cluster.
    favourite = [[rng.randrange(values) for _ in range(attrs)] for _ in range(clusters)]
    centres = [[rng.uniform(-4.0, 4.0) for _ in range(dim)] for _ in range(clusters)]
    for _ in range(cases):
        c = rng.randrange(clusters)
        row = []
        for a in range(attrs):
            v = favourite[c][a] if rng.random() < 0.6 else rng.randrange(values)
            row.append("v%d" % v)
        row.extend("%.6g" % rng.gauss(mu, 1.0) for mu in centres[c])
        row.append("c%d" % c)
        yield ",".join(row)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("kind", choices=["continuous", "discrete", "mixed"])
    p.add_argument("basename")
    p.add_argument("--cases", type=int, default=1000)
    p.add_argument("--dim", type=int, default=4)
    p.add_argument("--attrs", type=int, default=20)
    p.add_argument("--values", type=int, default=5)
    p.add_argument("--clusters", type=int, default=5)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args(argv)
    if a.cases < 1 or a.dim < 1 or a.attrs < 1 or a.values < 1 or a.clusters < 1:
        p.error("counts must be positive")

    rng = random.Random(a.seed)
    if a.kind == "continuous":
        rows = continuous_rows(rng, a.cases, a.dim, a.clusters)
    elif a.kind == "discrete":
        rows = discrete_rows(rng, a.cases, a.attrs, a.values, a.clusters)
    else:
        rows = mixed_rows(rng, a.cases, a.attrs, a.values, a.dim, a.clusters)
    with open(a.basename + "_freq.csv", "w", newline="\n") as out:
        for row in rows:
            out.write(row)
            out.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

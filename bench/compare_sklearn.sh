#!/usr/bin/env bash
# rumelvb and rumel side by side with scikit-learn's BayesianGaussianMixture
# and GaussianMixture on the same data and iteration count, one thread on
# both sides, with the ratios; then the scaling in cases (10^3 to 10^7),
# classes (2 to 50), block dimension (1 to 16) and threads (1 and 2, when
# the programs have --threads). Method: the top of bench/compare_sklearn.py.
#
# Usage: bench/compare_sklearn.sh            (full: about 15 minutes)
#        bench/compare_sklearn.sh --quick    (three sizes up to 10^5, a few points)
#        bench/compare_sklearn.sh --memory   (peak resident memory, 10^4 to 10^7 cases)
#        bench/compare_sklearn.sh --sweeps classes,dims   (some of the sweeps only)
#        BUILD=/path/to/build bench/compare_sklearn.sh --csv figures.csv
# The figures go to a CSV (default BUILD/bench-results.csv) that
# bench/plot_scaling.py draws; the generated data stay in BUILD/bench-data.
# The build directory (default build-bench) is configured as Release when it
# has none yet, and the two programs are brought up to date in it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target rumelvb rumel >/dev/null
# Debian's scikit-learn and matplotlib (for the plot) for Debian's
# interpreter, whatever python3 comes first on the PATH.
if ! /usr/bin/python3 -c "import sklearn, matplotlib" 2>/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq python3-sklearn python3-matplotlib >/dev/null
fi
exec /usr/bin/python3 "$ROOT/bench/compare_sklearn.py" --build "$BUILD" "$@"

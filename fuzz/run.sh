#!/usr/bin/env bash
# Runs one fuzz target for a bounded time: run.sh TARGET SECONDS [libFuzzer options...]
#
# TARGET is a name without the fuzz_ prefix (read_cases, read_names,
# read_hparam, options, option_values, cut, conv, prep, report). The seeds of
# fuzz/corpus/TARGET are read; new inputs go to fuzz/out/corpus/TARGET, and
# crashing inputs to fuzz/out/artifacts/TARGET/. One process, one job: the
# machine is shared. Exits non-zero when the fuzzer found a fault.
#
# The generator seed is fixed (FUZZ_SEED, default 1), so a run on the same
# corpus draws the same inputs: a red CI run can be replayed.
set -euo pipefail
cd "$(dirname "$0")"
target=$1
seconds=$2
shift 2
bin=out/build/bin/fuzz_$target
[ -x "$bin" ] || { echo "run.sh: $bin not built (run fuzz/build.sh)" >&2; exit 2; }
mkdir -p "out/corpus/$target" "out/artifacts/$target"
# Case and model files need room for a few dozen lines.
case $target in
  read_cases|read_hparam|cut|prep) max_len=16384 ;;
  report) max_len=32768 ;;
  *) max_len=4096 ;;
esac
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
"$bin" "out/corpus/$target" "corpus/$target" \
  -dict="$target.dict" \
  -seed="${FUZZ_SEED:-1}" \
  -max_total_time="$seconds" \
  -max_len=$max_len \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -close_fd_mask=3 \
  -print_final_stats=1 \
  -artifact_prefix="out/artifacts/$target/" \
  "$@"

#!/usr/bin/env bash
# A deliberate fuzzing campaign: every target (or the ones named) in turn, one
# at a time, SECONDS each (default 600). Builds the targets first.
#
#   fuzz/campaign.sh [-t SECONDS] [TARGET...]
#
# Each target's libFuzzer output goes to fuzz/out/logs/TARGET.log; a summary
# line per target (executions, coverage, features, outcome) is printed and
# appended to fuzz/out/logs/summary.txt. Exits 1 if any target found a fault;
# the input is then in fuzz/out/artifacts/TARGET/.
set -uo pipefail
cd "$(dirname "$0")"
seconds=600
if [ "${1:-}" = "-t" ]; then
  seconds=$2
  shift 2
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(read_cases read_names read_hparam options option_values cut conv prep report)

./build.sh || exit 1
mkdir -p out/logs
failed=0
for t in "${targets[@]}"; do
  log=out/logs/$t.log
  ./run.sh "$t" "$seconds" >"$log" 2>&1
  status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  execs=$(sed -n 's/^stat::number_of_executed_units: //p' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\).*/cov=\1 ft=\2/p' "$log" | tail -1)
  if [ $status -eq 0 ] && [ -n "$done_line" ]; then
    outcome=clean
  else
    outcome="FAULT (status $status, see $log)"
    failed=1
  fi
  line="$(date -u +%FT%TZ) $t: ${seconds}s execs=${execs:-?} ${cov:-cov=? ft=?} $outcome"
  echo "$line"
  echo "$line" >>out/logs/summary.txt
done
exit $failed

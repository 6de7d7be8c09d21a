#!/bin/sh
# Runs one libFuzzer target for SECONDS from its corpus and prints one line: executions, edges
# covered, new inputs found.
#   fuzz/run-one.sh FUZZER CORPUS OUT_DIR [SECONDS]
# SECONDS defaults to VORLITH_FUZZ_SECONDS, or 5. New inputs go to a scratch directory in
# OUT_DIR and are dropped, leaving the corpus as it was; with VORLITH_FUZZ_MERGE=1 they are merged
# (minimised) into CORPUS instead. A crash, hang or broken invariant leaves its input in
# OUT_DIR/artifacts/ and makes the command fail; the whole log is OUT_DIR/TARGET.log.
# fuzz/run.sh runs every target through this; so does the CTest fuzz-smoke.TARGET.
set -eu
fuzzer=$1 corpus=$2 out=$3 seconds=${4:-${VORLITH_FUZZ_SECONDS:-5}}
target=$(basename "$fuzzer")
scratch=$out/scratch-$target
artifacts=$out/artifacts
log=$out/$target.log
mkdir -p "$artifacts"
rm -rf "$scratch" && mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

# Map-sized inputs need room; names stay small so that mutations stay fast.
max_len=4096
case $target in mapfile_fuzz | run_fuzz) max_len=65536 ;; esac
status=0
# The scratch directory comes first: libFuzzer writes its new inputs to the first directory.
# The per-input timeout only catches a hang: inputs take milliseconds, and even a loaded
# machine under the sanitizers never needs minutes for one.
"$fuzzer" -max_total_time="$seconds" -max_len=$max_len -timeout=300 \
  -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
  "$scratch" "$corpus" >"$log" 2>&1 || status=$?
execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
coverage=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
found=$(find "$scratch" -type f | wc -l)
line=$(printf '%-22s %12s execs  %6s edges  %5s new inputs' "$target" "${execs:-?}" \
  "${coverage:-?}" "$found")
if [ "$status" -ne 0 ]; then
  grep -E '^(==[0-9]+==ERROR|invariant broken|SUMMARY|artifact_prefix|Test unit written)' \
    "$log" | head -n 8 >&2 || true
  echo "$line  FAILED (see $log)"
  exit 1
fi
# A run that executed nothing found nothing: fail rather than pass on an empty log.
[ -n "$execs" ] && [ "$execs" -gt 0 ] || { echo "$line  FAILED: no input ran (see $log)"; exit 1; }
echo "$line"
if [ "${VORLITH_FUZZ_MERGE:-0}" = 1 ] && [ "$found" -gt 0 ]; then
  "$fuzzer" -merge=1 -max_len=$max_len "$corpus" "$scratch" >>"$log" 2>&1
  echo "   merged into $corpus"
fi

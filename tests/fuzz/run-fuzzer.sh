#!/usr/bin/env bash
# Runs one harness for a bounded time on a scratch copy of its seed corpus (the committed
# seeds are never changed). A crash, leak, sanitizer report or time-out fails the run, and
# the input that caused it is kept in the scratch folder named in the output.
#   run-fuzzer.sh HARNESS SEED_DIR SECONDS
set -uo pipefail
harness=$1 seeds=$2 seconds=$3
work=$(mktemp -d /tmp/printarra-fuzz-XXXXXX)
mkdir -p "$work/corpus"
cp "$seeds"/* "$work/corpus/" 2>/dev/null
cd "$work"
"$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 corpus >"$work/log" 2>&1
status=$?
grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|cov:' "$work/log" | tail -2
if [ $status -ne 0 ]; then
    tail -60 "$work/log"
    echo "fuzz: $(basename "$harness") failed; inputs kept in $work"
    exit 1
fi
rm -rf "$work"

#!/usr/bin/env bash
# run-fuzzer.sh HARNESS SEED_DIR SECONDS: a bounded run on a scratch copy of the seeds; a crash,
# leak, sanitizer report or time-out fails it, its input kept in the scratch folder named.
set -uo pipefail
work=$(mktemp -d /tmp/printarra-fuzz-XXXXXX)
mkdir -p "$work/corpus" && cp "$2"/* "$work/corpus/" 2>/dev/null
cd "$work"
"$1" -max_total_time="$3" -timeout=10 -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
    corpus >log 2>&1
status=$?
grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|cov:' log | tail -2
if [ $status -ne 0 ]; then
    tail -60 log
    echo "fuzz: $(basename "$1") failed; inputs kept in $work"
    exit 1
fi
rm -rf "$work"

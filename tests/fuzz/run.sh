#!/bin/bash
# Runs one fuzz target over its committed corpus for a number of seconds. New inputs go to a
# scratch folder, so the committed corpus only changes when someone merges them in on purpose.
#   run.sh FUZZER CORPUS_DIR SCRATCH_DIR SECONDS [extra libFuzzer flags...]
set -eu
fuzzer=$1 corpus=$2 scratch=$3 seconds=$4
shift 4
mkdir -p "$scratch"
# The launcher keeps option texts until the process ends, by design: leaks are not findings.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# close_fd_mask=3: the parsers' own messages would drown the fuzzer's; its reports still show.
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
  -artifact_prefix="$scratch/" -print_final_stats=1 "$@" "$scratch" "$corpus"

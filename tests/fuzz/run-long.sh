#!/bin/bash
# Longer fuzzing of every target: builds the fuzz project with clang, runs each target for a while
# and prints executions and coverage per target. With --merge, the inputs that add coverage are
# merged (minimised) into the committed corpus.
#   tests/fuzz/run-long.sh [--merge] [SECONDS_PER_TARGET (default 600)] [TARGET...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
merge=0
if [ "${1:-}" = "--merge" ]; then
  merge=1
  shift
fi
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(options jvm_config vm_options percent_decode class_path forwarded_payload config_values pe_resources
           argument_file pack_inputs sync_index class_file jar_reader pe_imports png_reader)
fi
build=${FUZZ_BUILD_DIR:-/tmp/quorvia-fuzz-build}
work=${FUZZ_WORK_DIR:-/tmp/quorvia-fuzz-work}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
ninja -C "$build" >/dev/null

failed=0
printf '%-20s %12s %8s %8s %8s %s\n' target executions cov ft corpus result
for target in "${targets[@]}"; do
  log="$work/$target.log"
  mkdir -p "$work"
  if bash "$here/run.sh" "$build/fuzz_$target" "$here/corpus/$target" "$work/$target" "$seconds" \
      -jobs=1 >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log)"
    failed=$((failed + 1))
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$last")
  printf '%-20s %12s %8s %8s %8s %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result"
  if [ "$merge" = 1 ] && [ "$result" = ok ]; then
    ASAN_OPTIONS=detect_leaks=0 "$build/fuzz_$target" -merge=1 -close_fd_mask=3 \
      "$here/corpus/$target" "$work/$target" >>"$log" 2>&1
  fi
done
echo "$((${#targets[@]} - failed)) passed, $failed failed"
[ "$failed" = 0 ]

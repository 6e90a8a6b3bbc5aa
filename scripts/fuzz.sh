#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz
# and runs each for SECONDS (default 60), one after another. Each target starts from its inputs
# in fuzz/corpus/<target>/ and keeps what it finds in out/fuzz/<target>/corpus/; a crash, leak or
# failed property leaves its input as out/fuzz/<target>/crash-* (or leak-*, timeout-*, oom-*)
# and the run's output in out/fuzz/<target>/log.txt. Exit status 1 when any target failed.
#   FR_FUZZ_MERGE=1  afterwards, merge the inputs that add coverage into fuzz/corpus/<target>/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
all=(fuzz_packages fuzz_answers fuzz_link fuzz_tlv fuzz_settings fuzz_native_values)
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")

"$root/scripts/setup.sh"
build="$root/build-fuzz"
CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DFR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}:abort_on_error=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}:halt_on_error=1
failed=0
for t in "${targets[@]}"; do
  out="$root/out/fuzz/$t"
  mkdir -p "$out/corpus"
  set +e
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$out/" "$out/corpus" "$root/fuzz/corpus/$t" >"$out/log.txt" 2>&1
  rc=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/log.txt")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out/log.txt")
  inputs=$(find "$out/corpus" "$root/fuzz/corpus/$t" -type f | wc -l)
  if ((rc == 0)); then
    echo "fuzz: $t ok: ${runs:-?} runs, ${rate:-?}/s, $inputs inputs"
  else
    failed=1
    echo "fuzz: $t FAILED (status $rc); input and output in $out/" >&2
    grep -E 'ERROR|runtime error|property failed|SUMMARY' "$out/log.txt" | head -5 >&2 || true
  fi
  if [ "${FR_FUZZ_MERGE:-0}" = 1 ]; then
    "$build/fuzz/$t" -merge=1 "$root/fuzz/corpus/$t" "$out/corpus" >>"$out/log.txt" 2>&1
  fi
done
exit "$failed"

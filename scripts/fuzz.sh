#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, ASan+UBSan, every library instrumented) in
# build-fuzz/ and runs each on its seeds (fuzz/corpus/<target>/) for a bounded time.
#   KV_FUZZ_SECONDS  seconds per target (default 20)
#   KV_FUZZ_JOBS     targets run at once (default: the number of cores)
# New inputs go to build-fuzz/fuzz-runs/<target>/corpus, never into the tree; an input that
# fails is kept in build-fuzz/fuzz-runs/<target>/artifacts and the script ends with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${KV_FUZZ_SECONDS:-20}
jobs=${KV_FUZZ_JOBS:-$(nproc)}
dir=build-fuzz
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKV_BUILD_FUZZ=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >&2
cmake --build "$dir" -j "$(nproc)" --target kv_fuzz_targets >&2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
runs="$dir/fuzz-runs"
rm -rf "$runs"
mkdir -p "$runs"

run() {  # run TARGET: one bounded session; its log is $runs/TARGET/log
  local name=$1 bin="$dir/fuzz/$1" seeds="fuzz/corpus/${1%_fuzz}" work="$runs/$1"
  local extra=()
  # Profile records are 142 KB; room for whole images of that size.
  [ "$name" = profile_image_fuzz ] && extra+=(-max_len=160000)
  mkdir -p "$work/corpus" "$work/artifacts"
  "$bin" "$work/corpus" "$seeds" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "${extra[@]}" >"$work/log" 2>&1
}

targets=()
for bin in "$dir"/fuzz/*_fuzz; do targets+=("$(basename "$bin")"); done
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  (if run "$t"; then echo ok; else echo FAILED; fi >"$runs/$t.status") &
done
wait

failed=0
printf '%-26s %12s %10s %8s  %s\n' target executions "exec/s" "new" result
for t in "${targets[@]}"; do
  log="$runs/$t/log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  fresh=$(find "$runs/$t/corpus" -type f | wc -l)
  result=$(cat "$runs/$t.status" 2>/dev/null || echo FAILED)
  printf '%-26s %12s %10s %8s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$fresh" "$result"
  if [ "$result" != ok ]; then
    failed=1
    echo "--- $t: $(ls "$runs/$t/artifacts" 2>/dev/null | head -n 3 | tr '\n' ' ')"
    grep -m 1 -A 30 -E "ERROR|runtime error|Assertion|deadly signal" "$log" | head -n 40 || tail -n 40 "$log"
  fi
done
exit "$failed"

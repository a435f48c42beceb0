#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder and runs each of them
# for a bounded time from the seed corpora of tests/fuzz/make_corpus.py.
# Exits non-zero when a target crashes, trips a sanitizer, times out or
# fails one of its checks; the input that did it is kept under
# $BUILD/artifacts/.
#
#   tools/run-fuzz.sh                 every target, FUZZ_SECONDS (5) each
#   tools/run-fuzz.sh fuzz_itex ...   the named targets only
#   FUZZ_SECONDS=60 tools/run-fuzz.sh a longer run
#   BUILD=build-x tools/run-fuzz.sh   another build folder (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-5}
jobs=${JOBS:-2}

for tool in clang clang++ python3; do
  command -v "$tool" >/dev/null || { echo "run-fuzz: $tool is missing (apt-get install clang libclang-rt-14-dev python3)"; exit 2; }
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DVORLO_FUZZ=ON -DVORLO_SANITIZE=ON -DVORLO_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_all -j "$jobs"
# Absolute from here on: some targets change their working folder.
build=$(cd "$build" && pwd)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in tests/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi

# The corpora grow from run to run; the seeds are written afresh each time.
python3 tests/fuzz/make_corpus.py "$build/seeds"
mkdir -p "$build/artifacts"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:allocator_may_return_null=1
export LSAN_OPTIONS=suppressions=$root/.ci/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/artifacts/$t.log"
  start=$(date +%s)
  if "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
       "$corpus" "$build/seeds/$t" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$t")
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  printf '%-22s %-6s %3ss %10s runs  %s\n' "$t" "$status" "$(( $(date +%s) - start ))" "${runs:-?}" "${cov:-}"
  if [ "$status" != ok ]; then
    grep -E 'ERROR|SUMMARY|fuzz check failed|runtime error|Test unit written' "$log" | head -20 || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run-fuzz: failed: ${failed[*]} (logs and inputs in $build/artifacts)"
  exit 1
fi
echo "run-fuzz: ${#targets[@]} targets ran clean, ${seconds}s each"

#!/usr/bin/env bash
# Installs what is missing, builds and runs the test suite.
#   scripts/test.sh          everything: a normal build, one under AddressSanitizer with
#                            UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
#                            and each fuzzer for a bounded time
#   scripts/test.sh --quick  the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

fuzz_seconds=${NODREL_FUZZ_SECONDS:-60}
jobs=$(nproc)
summaries=$(mktemp)
last_run=$(mktemp)
trap 'rm -f "$summaries" "$last_run"' EXIT

configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DNODREL_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

# Runs a ctest command line, keeping its summary line for the closing count.
run_tests() {
    "$@" --output-on-failure -j "$jobs" | tee "$last_run"
    grep 'tests failed out of' "$last_run" >>"$summaries"
}

# One line over every ctest run: "suite: N passed, N failed".
print_totals() {
    awk '{ failed += $4; total += $NF } END { printf "suite: %d passed, %d failed\n", total - failed, failed }' \
        "$summaries"
}

echo "== normal build"
configure_and_build build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tests ctest --test-dir build/test
if [ "${1:-}" = "--quick" ]; then
    print_totals
    exit 0
fi

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DNODREL_SANITIZE=address,undefined \
    -DNODREL_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_tests ctest --test-dir build/asan

echo "== ThreadSanitizer"
configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DNODREL_SANITIZE=thread -DNODREL_BENCH=OFF
# Newer kernels randomise the address space more than this ThreadSanitizer can map around.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    run_tests setarch "$(uname -m)" -R ctest --test-dir build/tsan -L threads

echo "== fuzzers, ${fuzz_seconds} s each"
CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNODREL_FUZZ=ON \
    -DNODREL_SANITIZE=address,undefined -DNODREL_TESTS=OFF -DNODREL_BENCH=OFF
for fuzzer in build/fuzz/fuzz/fuzz_*; do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
    corpus="build/fuzz/corpus/$(basename "$fuzzer")"
    mkdir -p "$corpus"
    echo "-- $(basename "$fuzzer")"
    "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
done

print_totals

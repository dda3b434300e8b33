#!/usr/bin/env bash
# Builds the fuzz harnesses with clang and libFuzzer and runs each for SECONDS
# (default 60), one after the other: run.sh [SECONDS] [bmp ico jpeg wmf colour].
# New inputs go to build-fuzz/corpus/<format>, crashes to build-fuzz/crash-<format>-*;
# keep each crash under tests/fuzz/regressions/<format>/, named after what it catches.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-60}"
shift || true
formats=("$@")
[ "${#formats[@]}" -gt 0 ] || formats=(bmp ico jpeg wmf colour)
corpus="$root/../shared/corpus"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DPEL_FUZZ=ON -DPEL_SANITIZED_TESTS=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target "${formats[@]/#/fuzz_}"

for f in "${formats[@]}"; do
    case "$f" in
    bmp) seeds=("$corpus/bmp/good" "$corpus/bmp/bad" "$corpus/bmp/questionable" "$corpus/bmp/fuzzed") ;;
    wmf) seeds=("$corpus/wmf/good" "$corpus/wmf/bad") ;;
    colour) seeds=(/usr/share/color/icc) ;;
    *) seeds=("$corpus/$f") ;;
    esac
    existing=()
    for s in "${seeds[@]}" "$root/tests/fuzz/regressions/$f"; do [ -d "$s" ] && existing+=("$s"); done
    mkdir -p "$build/corpus/$f"
    echo "== fuzz_$f for $seconds s"
    # Leaks are findings too, apart from what fontconfig keeps for good (lsan.supp).
    ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
    LSAN_OPTIONS="suppressions=$root/tests/sanitized/lsan.supp:print_suppressions=0" \
        "$build/tests/fuzz/fuzz_$f" "$build/corpus/$f" "${existing[@]}" \
        -max_total_time="$seconds" -rss_limit_mb=2560 -timeout=30 -max_len=32768 \
        -artifact_prefix="$build/crash-$f-" -print_final_stats=1
done

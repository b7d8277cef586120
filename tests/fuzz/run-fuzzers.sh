#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/CMakeLists.txt, in the clang tree
# build/fuzz) and runs each over the seed corpus, then for a bounded time.
#   run-fuzzers.sh SECONDS_EACH LAUNCHER
# The corpus grows in build/fuzz/corpus-*; crashes land in build/fuzz/.
set -euo pipefail
seconds=$1
launcher=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$repo/build/fuzz
if [ ! -f "$out/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIRN_FUZZ=ON >/dev/null
fi
cmake --build "$out" --target fuzzers >/dev/null
# The targets as tests/fuzz/CMakeLists.txt names them.
IFS=";" read -r -a targets <"$out/fuzzers.txt" || true  # no newline at its end
for target in "${targets[@]}"; do
    corpus=$out/corpus-$target
    mkdir -p "$corpus"
    python3 "$repo/tests/fuzz/make-seeds.py" "$corpus" "$launcher"
    echo "== $target: $seconds s"
    (cd "$out" && "$out/tests/fuzz/$target" -max_total_time="$seconds" -max_len=1048576 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 |
        grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' || true)
    # A crash leaves its input behind and a non-zero status above.
    if ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* >/dev/null 2>&1; then
        echo "fuzzing found a failure: $(ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* 2>/dev/null)" >&2
        exit 1
    fi
done

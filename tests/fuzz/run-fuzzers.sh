#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (and AddressSanitizer) and
# runs each over the seed corpus, then for a bounded time.
#   run-fuzzers.sh SECONDS_EACH LAUNCHER
# The corpus grows in build/fuzz/corpus-*; crashes land in build/fuzz/.
set -euo pipefail
seconds=$1
launcher=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$repo/build/fuzz
mkdir -p "$out"
format=$repo/format
cabinet=$repo/cabinet
pack=$repo/tools/pack
for target in TrailerFuzzer SignatureFuzzer DescrambleFuzzer CabinetDirectoryFuzzer InspectFuzzer LzxRoundTripFuzzer; do
    binary=$out/$target
    extra=()
    if [ $target = CabinetDirectoryFuzzer ]; then
        read -r -a extra <<<"$cabinet/CabinetReader.cpp $cabinet/CabinetFormat.cpp"
    fi
    if [ $target = LzxRoundTripFuzzer ]; then
        # Encoded by ours, decoded by libmspack.
        read -r -a extra <<<"$repo/tests/unit/cabinet/CabinetTestSupport.cpp $(echo "$cabinet"/*.cpp) -lz -lpthread $(pkg-config --libs libmspack)"
    fi
    if [ $target = InspectFuzzer ]; then
        # tirn-pack's inspection with its own cabinet reader (main() is not linked).
        read -r -a extra <<<"$pack/Packing.cpp $pack/Cabinet.cpp $pack/Files.cpp $pack/SignatureChecking.cpp $pack/SignatureOpenssl.cpp $(echo "$cabinet"/*.cpp) -lz -lpthread -lcrypto"
    fi
    if [ ! -x "$binary" ] || [ -n "$(find "$repo/tests/fuzz/$target.cpp" "$format" "$cabinet" "$pack" "$repo/tests/unit/cabinet" -newer "$binary" -print -quit)" ]; then
        clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -I"$repo" \
            "$repo/tests/fuzz/$target.cpp" "$format"/*.cpp "${extra[@]}" -o "$binary"
    fi
    corpus=$out/corpus-$target
    mkdir -p "$corpus"
    python3 "$repo/tests/fuzz/make-seeds.py" "$corpus" "$launcher"
    echo "== $target: $seconds s"
    (cd "$out" && "$binary" -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" 2>&1 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' || true)
    # A crash leaves its input behind and a non-zero status above.
    if ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* >/dev/null 2>&1; then
        echo "fuzzing found a failure: $(ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* 2>/dev/null)" >&2
        exit 1
    fi
done

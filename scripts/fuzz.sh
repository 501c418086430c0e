#!/usr/bin/env bash
# Fuzzes the picture loader and the recipe reader for a while (default 60
# seconds in all, three quarters for the loader) with libFuzzer
# under AddressSanitizer and UndefinedBehaviorSanitizer. Builds the fuzz
# target into build-san/ (clang) if needed, writes a fresh seed corpus of
# small valid files in every format, and keeps what it finds in
# build-san/fuzz/corpus/ for the next run. A crash or leak stops it with a
# reproducer file crash-*/leak-*/oom-*/timeout-* in build-san/fuzz/.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
[ -f build-san/CMakeCache.txt ] || source scripts/configure-san.sh
cmake --build build-san -j"$jobs" --target pictovance-load-fuzzer pictovance-fuzz-seeds \
  pictovance-recipe-fuzzer pictovance-render
cd build-san/fuzz
rm -rf seeds
mkdir -p seeds corpus
./pictovance-fuzz-seeds seeds
export LSAN_OPTIONS="suppressions=$(cd ../.. && pwd)/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Inputs up to 64 KB; a decode may take up to the loader's own limits (a
# picture of 16384 x 16384 is 1 GiB), so memory and time are bounded above
# those, not at libFuzzer's defaults.
load_seconds=$((seconds * 3 / 4))
recipe_seconds=$((seconds - load_seconds))
./pictovance-load-fuzzer -max_total_time="$load_seconds" -max_len=65536 -timeout=30 -rss_limit_mb=3072 \
  -print_final_stats=1 corpus seeds
# The recipe reader starts from real recipes: a palette picture and one
# painted from a source picture.
rm -rf recipe-seeds
mkdir -p recipe-seeds recipe-corpus
../tools/render/pictovance-render --seed 1 --size 8x6 --no-effects --quiet --out recipe-seeds >/dev/null
../tools/render/pictovance-render --seed 2 --size 8x6 --quiet --source "$(ls seeds/*.png | head -n 1)" \
  --out recipe-seeds >/dev/null
./pictovance-recipe-fuzzer -max_total_time="$recipe_seconds" -max_len=16384 -timeout=30 \
  -print_final_stats=1 recipe-corpus recipe-seeds

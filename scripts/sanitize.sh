#!/usr/bin/env bash
# The sanitizer pass of CI: builds the core, the renderer and their tests
# with AddressSanitizer and UndefinedBehaviorSanitizer (clang) into
# build-san/, runs those suites (imaging, generator, canvas, tools; the
# window's suites are left to the normal build to keep CI short), then
# fuzzes the loader for a bounded time.
#   bash scripts/sanitize.sh [FUZZ_SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPICTOVANCE_SANITIZE=ON -DPICTOVANCE_FUZZ=ON -DPICTOVANCE_BUILD_APP=OFF -DPICTOVANCE_BUILD_BENCH=OFF
cmake --build build-san -j"$jobs"
(
  cd build-san
  export LSAN_OPTIONS="suppressions=$(cd .. && pwd)/scripts/lsan-suppressions.txt:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" --timeout 900
)
bash scripts/fuzz.sh "$fuzz_seconds"

#!/usr/bin/env bash
# The sanitizer pass of CI: builds the core, the renderer and their tests
# with AddressSanitizer and UndefinedBehaviorSanitizer (clang) into
# build-san/, runs those suites (imaging, generator, canvas, render; the
# window's suites are left to the normal build to keep CI short), then
# fuzzes the loader for a bounded time.
#   bash scripts/sanitize.sh [FUZZ_SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
source scripts/configure-san.sh
cmake --build build-san -j"$jobs"
# Each suite runs as one process: ctest's one process per test case costs
# AddressSanitizer's start-up 1,700 times.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for suite in build-san/tests/*/*_test; do
  echo "sanitize: $suite"
  QT_QPA_PLATFORM=offscreen "$suite" --gtest_brief=1 || failed+=("$suite")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "sanitize: failed: ${failed[*]}" >&2
  exit 1
fi
bash scripts/fuzz.sh "$fuzz_seconds"

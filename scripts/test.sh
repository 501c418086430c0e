#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh -DPICTOVANCE_WERROR=ON
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc 2>/dev/null || echo 2)" --timeout 600

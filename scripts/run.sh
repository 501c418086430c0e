#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pictovance.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -x build/app/pictovance ]; then
  exec build/app/pictovance "$@"
fi
# No window yet: paint one picture headlessly and print its path.
mkdir -p build/pictures
exec build/tools/render/pictovance-render --out build/pictures "$@"

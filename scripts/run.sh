#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pictovance. Without a display
# to show the window on (no X server, no Wayland compositor: a server, an
# SSH session, a container), it paints one picture with the headless
# renderer instead and says where it went.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

has_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ] ||
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/wayland-0" ]
}

if [ -x build/app/pictovance ]; then
  if has_display; then
    exec build/app/pictovance "$@"
  fi
  echo "run: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)," >&2
  echo "run: so the renderer paints one picture instead:" >&2
  set --
else
  echo "run: the window was not built; the renderer paints one picture instead:" >&2
fi
mkdir -p build/pictures
path=$(build/tools/render/pictovance-render --out build/pictures "$@")
echo "$path"
echo "run: painted $path (build/tools/render/pictovance-render --help tells more)" >&2

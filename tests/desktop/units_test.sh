#!/usr/bin/env bash
# The daily wallpaper's systemd user units as the user's service manager
# reads them: `systemd-analyze --user verify` on the service and its timer,
# the service starting the built renderer (installed, it finds the renderer
# in /usr/bin or /usr/local/bin) and the manuals it names being the built
# ones. Skipped (exit 77) where systemd cannot run the check at all.
#
# Usage: units_test.sh UNIT_FOLDER RENDERER MANUAL_FOLDER
set -euo pipefail

units=$1
render=$2
manuals=$3

command -v systemd-analyze >/dev/null 2>&1 || {
  echo "units: SKIP: systemd-analyze is missing (package systemd)"
  exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
mkdir -p "$work/man/man1" "$work/units"
ln -s "$manuals"/*.1.gz "$work/man/man1/"

service="$work/units/pictovance-wallpaper.service"
sed "s|^ExecStart=pictovance-render |ExecStart=$render |" "$units/pictovance-wallpaper.service" >"$service"
grep -q "^ExecStart=$render --wallpaper" "$service" || {
  echo "units: FAIL: the service does not start pictovance-render --wallpaper" >&2
  exit 1
}
cp "$units/pictovance-wallpaper.timer" "$work/units/"

if ! XDG_RUNTIME_DIR="$work/runtime" MANPATH="$work/man" systemd-analyze --user verify \
  "$work/units/pictovance-wallpaper.timer" "$service" >"$work/verify.log" 2>&1; then
  if grep -q "Failed to initialize manager" "$work/verify.log"; then
    echo "units: SKIP: systemd-analyze cannot start a user manager here: $(head -n 1 "$work/verify.log")"
    exit 77
  fi
  cat "$work/verify.log" >&2
  echo "units: FAIL: systemd-analyze verify rejects the units" >&2
  exit 1
fi
echo "units: OK"

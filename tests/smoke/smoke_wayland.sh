#!/usr/bin/env bash
# Smoke test of the real program on Wayland: a headless weston (the
# compositor of Debian's weston package, with no screen) and Qt's Wayland
# platform plugin (QT_QPA_PLATFORM=wayland, as on a GNOME session without
# XWayland):
#   1. it starts, connects, and shows a top-level window carrying the
#      application id of its desktop entry, with its first frame drawn
#      (seen in libwayland's protocol log, WAYLAND_DEBUG);
#   2. a second copy ends at once, without connecting;
#   3. a termination signal closes the window, the program ends with status
#      0 and leaves no single-copy lock behind.
#
# Usage: smoke_wayland.sh PROGRAM APPLICATION_ID
# Exits 77 (skipped) only when weston is installed but cannot start here.
set -euo pipefail

program=$1
app_id=$2

command -v weston >/dev/null 2>&1 || {
  echo "smoke-wayland: weston is missing; scripts/install-deps.sh installs it" >&2
  exit 1
}

work=$(mktemp -d)
pid=""
compositor=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  if [ -n "$compositor" ]; then kill "$compositor" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "smoke-wayland: FAIL: $*" >&2
  if [ -s "$work/program.log" ]; then
    echo "--- program output (last lines) ---" >&2
    grep -v '^\[' "$work/program.log" | tail -n 20 >&2 || true
  fi
  exit 1
}

wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 5))
  for ((i = 0; i < tries; i++)); do
    if "$@"; then return 0; fi
    sleep 0.2
  done
  return 1
}

# A runtime folder of its own: the compositor's socket and the single-copy
# lock live there.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
lock="$XDG_RUNTIME_DIR/pictovance-$(id -u).lock"
socket=pictovance-smoke
unset DISPLAY

weston --backend=headless-backend.so --no-config --socket="$socket" --idle-time=0 --width=1024 \
  --height=768 >"$work/weston.log" 2>&1 &
compositor=$!
socket_ready() { [ -S "$XDG_RUNTIME_DIR/$socket" ]; }
if ! wait_for 20 socket_ready; then
  echo "smoke-wayland: SKIP: weston cannot start here:" >&2
  tail -n 5 "$work/weston.log" >&2
  exit 77
fi

export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland
WAYLAND_DEBUG=client "$program" >"$work/program.log" 2>&1 &
pid=$!

shown() {
  grep -q "xdg_toplevel@[0-9]*\.set_app_id(\"$app_id\")" "$work/program.log" &&
    grep -q "wl_surface@[0-9]*\.attach(wl_buffer@" "$work/program.log"
}
wait_for 30 shown || {
  kill -0 "$pid" 2>/dev/null || fail "the program ended on start-up"
  fail "no window with the application id $app_id was drawn"
}
kill -0 "$pid" 2>/dev/null || fail "the program ended after showing its window"
echo "shown: $(grep -o "xdg_toplevel@[0-9]*\.set_title([^)]*)" "$work/program.log" | head -n 1)"

set +e
WAYLAND_DEBUG=client timeout 20 "$program" >"$work/second.log" 2>&1
second=$?
set -e
[ "$second" = 0 ] || fail "the second copy ended with status $second"
! grep -q "xdg_toplevel" "$work/second.log" || fail "the second copy opened a window"
kill -0 "$pid" 2>/dev/null || fail "the first copy ended when the second started"

ended() { ! kill -0 "$pid" 2>/dev/null; }
for ((i = 0; i < 20; i++)); do
  kill -TERM "$pid" 2>/dev/null || true
  if wait_for 1 ended; then break; fi
done
ended || fail "the program did not end on SIGTERM"
set +e
wait "$pid"
rc=$?
set -e
pid=""
[ "$rc" = 0 ] || fail "the program ended with status $rc"
[ ! -e "$lock" ] || fail "the single-copy lock $lock was left behind"
echo "smoke-wayland: OK"

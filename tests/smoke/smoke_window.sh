#!/usr/bin/env bash
# Smoke test of the real program in a virtual X server with a window manager
# (openbox) running:
#   1. it starts and shows its 481 x 332 window, framed and centred on the
#      screen, with no picture yet;
#   2. a click on Randomize paints a picture into the preview (checked on
#      screenshots with preview_check);
#   3. a second copy ends at once, without a window;
#   4. a termination signal closes the window, the program ends with status
#      0 and leaves no single-copy lock behind.
#
# Usage: smoke_window.sh PROGRAM PREVIEW_CHECK DESKTOP_ENTRY
# The last screenshot is kept as smoke_window.png in the current folder.
set -euo pipefail

program=$1
checker=$2
desktop_entry=$3

for tool in xvfb-run Xvfb xauth xdotool scrot openbox xprop xwininfo; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "smoke: $tool is missing; scripts/install-deps.sh installs it" >&2
    exit 1
  fi
done

# Re-run inside a virtual X server on a free display.
if [ -z "${PV_SMOKE_DISPLAY_READY:-}" ]; then
  exec env PV_SMOKE_DISPLAY_READY=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

work=$(mktemp -d)
pid=""
wm=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "smoke: FAIL: $*" >&2
  if [ -s "$work/program.log" ]; then
    echo "--- program output ---" >&2
    cat "$work/program.log" >&2
  fi
  exit 1
}

# A runtime folder of its own, so that a copy the user runs does not count
# as the first copy, and the lock file can be looked at afterwards.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
lock="$XDG_RUNTIME_DIR/pictovance-$(id -u).lock"
# The test runner may ask Qt for the offscreen platform; this test needs X.
export QT_QPA_PLATFORM=xcb

# Polls a command every 0.2 s for up to $1 seconds.
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

shot() { scrot -o "$work/$1.png"; }

# A window manager frames the window, as on a desktop.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 20 wm_running || fail "openbox did not start ($(cat "$work/openbox.log"))"

"$program" >"$work/program.log" 2>&1 &
pid=$!

wid=$(timeout 30 xdotool search --sync --onlyvisible --classname '^pictovance$' | head -n 1) ||
  fail "no window appeared"
[ -n "$wid" ] || fail "no window appeared"

# The window's own area on the screen: X, Y, WIDTH, HEIGHT. (xdotool's
# geometry counts the frame's offset twice once a window manager has
# reparented the window.)
client_geometry() {
  local info
  info=$(xwininfo -id "$wid") || return 1
  X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  WIDTH=$(sed -n 's/^ *Width: *//p' <<<"$info")
  HEIGHT=$(sed -n 's/^ *Height: *//p' <<<"$info")
}

# The frame (the window and the border openbox adds) is centred on the
# 1024 x 768 screen, to the pixel.
frame_offset() {
  local extents left right top bottom
  extents=$(xprop -id "$wid" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.* = //p' | tr -d ' ')
  [ -n "$extents" ] || return 1
  IFS=, read -r left right top bottom <<<"$extents"
  client_geometry || return 1
  dx=$(((X - left) * 2 + left + WIDTH + right - 1024))
  dy=$(((Y - top) * 2 + top + HEIGHT + bottom - 768))
  frame="frame extents $extents, window at $X,$Y"
  [ "$top" -gt 0 ] && [ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ]
}
wait_for 10 frame_offset || fail "the framed window is not centred: twice its offset is $dx,$dy ($frame)"
echo "centred: $frame"

# The desktop finds the window's menu entry (and icon) by its class.
class=$(xprop -id "$wid" WM_CLASS | sed -n 's/.*", "\(.*\)"$/\1/p')
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
[ -n "$class" ] && [ "$class" = "$wm_class" ] || fail "the window's class '$class' is not the entry's '$wm_class'"
client_geometry || fail "the window's geometry cannot be read"
[ "$WIDTH" = 481 ] && [ "$HEIGHT" = 332 ] || fail "window is ${WIDTH}x${HEIGHT}, not 481x332"

# The preview's inner area: the 400 x 300 area at 6, 6 less its 2-pixel border.
px=$((X + 8))
py=$((Y + 8))
pw=396
ph=296

# Wait until the window is drawn: the file counter shows its text.
painted() {
  shot before
  local out
  out=$("$checker" "$work/before.png" $((X + 8)) $((Y + 312)) 156 16 || true)
  [[ $out == colours=* && $out != "colours=1 "* ]]
}
wait_for 20 painted || fail "the window was never drawn"

# No picture before the first click (the About text may stand in its place).
set +e
before=$("$checker" "$work/before.png" "$px" "$py" "$pw" "$ph")
status=$?
set -e
echo "before the click: $before"
[ "$status" = 2 ] || fail "the preview is not empty after start-up ($before)"
background=$(sed -n 's/.*background=\(#[0-9a-f]\{6\}\).*/\1/p' <<<"$before")

# Click Randomize (cmdRND at 412, 190, 63 x 31).
xdotool mousemove --window "$wid" 443 205 click 1
has_picture() {
  shot after
  "$checker" "$work/after.png" "$px" "$py" "$pw" "$ph" "$background" >"$work/after.txt"
}
wait_for 30 has_picture || fail "no picture in the preview after Randomize ($(cat "$work/after.txt"))"
echo "after the click: $(cat "$work/after.txt")"
cp "$work/after.png" smoke_window.png 2>/dev/null || true

# A second copy ends at once and shows nothing.
set +e
timeout 20 "$program" >"$work/second.log" 2>&1
second=$?
set -e
[ "$second" = 0 ] || fail "the second copy ended with status $second"
windows=$(xdotool search --onlyvisible --classname '^pictovance$' | wc -l)
[ "$windows" = 1 ] || fail "$windows windows after starting a second copy"
kill -0 "$pid" 2>/dev/null || fail "the first copy ended when the second started"

# A termination signal is a close request; it is refused only while a
# picture is being painted, so ask until the program has ended.
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
echo "smoke: OK"

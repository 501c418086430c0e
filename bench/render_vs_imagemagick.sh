#!/usr/bin/env bash
# Pictures per second of pictovance-render on one job and on every core,
# with and without the finishing pass, against ImageMagick painting its
# plasma fractal (`convert -size 800x400 plasma:`) into PNG files one at a
# time and on every core. All runs write 800 x 400 PNG files into a
# temporary folder, one after the other, in one run on the same machine, so
# the ratios at the end compare like with like.
#
# ImageMagick is needed by this script only, not by the program:
#     apt-get install -y imagemagick
#
# Usage: bench/render_vs_imagemagick.sh [path/to/pictovance-render]
# Environment: COUNT pictures per renderer run (default 200), IM_COUNT
# pictures per ImageMagick run (default 24), JOBS (default: nproc), REPS
# turns of the renderer runs, the best of each kept (default 3), WORK the
# folder the files go to (default: $TMPDIR or /tmp; WORK=/dev/shm leaves
# the disk's flush times out of the figures), CONVERT (default: convert).
set -euo pipefail

render=${1:-build/tools/render/pictovance-render}
count=${COUNT:-200}
im_count=${IM_COUNT:-24}
jobs=${JOBS:-$(nproc)}
reps=${REPS:-3}
convert=${CONVERT:-convert}

command -v "$convert" > /dev/null || { echo "ImageMagick's $convert is missing: apt-get install -y imagemagick" >&2; exit 1; }
[ -x "$render" ] || { echo "no renderer at $render (build it first)" >&2; exit 1; }

work=$(mktemp -d -p "${WORK:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
# rate PICTURES START END
rate() { awk -v n="$1" -v s="$2" -v e="$3" 'BEGIN { printf "%.1f", n / (e - s) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# render_rate ARGS...: pictures per second of one renderer run.
render_rate() {
  rm -rf "$work/out"
  local start end
  start=$(now)
  "$render" --seed 1 --count "$count" --quiet --out "$work/out" "$@" > /dev/null
  end=$(now)
  [ "$(find "$work/out" -name '*.png' | wc -l)" -eq "$count" ] || { echo "renderer wrote too few files" >&2; exit 1; }
  rate "$count" "$start" "$end"
}

# plasma_rate PROCESSES: pictures per second of ImageMagick, that many
# processes at a time.
plasma_rate() {
  rm -rf "$work/im" && mkdir "$work/im"
  local start end
  start=$(now)
  seq "$im_count" | xargs -P "$1" -I{} "$convert" -size 800x400 plasma: "$work/im/{}.png"
  end=$(now)
  rate "$im_count" "$start" "$end"
}

# The four renderer runs take turns REPS times; each keeps its best rate,
# so a busy moment of a shared machine sways one turn, not the ratios.
best() { awk -v a="$1" -v b="${2:-0}" 'BEGIN { print (a > b ? a : b) }'; }
fx1= fxn= plain1= plainn=
for _ in $(seq "$reps"); do
  fx1=$(best "$(render_rate --jobs 1)" "$fx1")
  fxn=$(best "$(render_rate --jobs "$jobs")" "$fxn")
  plain1=$(best "$(render_rate --jobs 1 --no-effects)" "$plain1")
  plainn=$(best "$(render_rate --jobs "$jobs" --no-effects)" "$plainn")
done
im1=$(plasma_rate 1)
imn=$(plasma_rate "$jobs")

printf '%-64s %8s pictures/s\n' \
  "pictovance-render --jobs 1" "$fx1" \
  "pictovance-render --jobs $jobs" "$fxn" \
  "pictovance-render --jobs 1 --no-effects" "$plain1" \
  "pictovance-render --jobs $jobs --no-effects" "$plainn" \
  "$convert -size 800x400 plasma:, 1 at a time" "$im1" \
  "$convert -size 800x400 plasma:, $jobs at a time" "$imn"
echo
echo "$jobs jobs / 1 job: $(ratio "$fxn" "$fx1") with the finishing pass, $(ratio "$plainn" "$plain1") without"
echo "pictovance-render / ImageMagick: $(ratio "$fx1" "$im1") x on one core, $(ratio "$fxn" "$imn") x on $jobs" \
  "(with the finishing pass); $(ratio "$plain1" "$im1") x and $(ratio "$plainn" "$imn") x without"

#!/usr/bin/env bash
# What one job of the renderer holds in memory, in canvases: the figure the
# memory clamp (JobBytes in tools/render/memory_fit.cpp) counts with.
#
# For each size the renderer paints one picture with the finishing pass on
# one job, for several seeds (the finishing pass differs from picture to
# picture), under GNU time. The largest peak resident memory, less the
# peak of a 64x64 picture (the program itself), is what a job holds at that
# size; jobs paint independently, so N jobs hold N times that. Printed per
# size: the peaks and what a job holds, in MB and in canvases (width x
# height x 4 bytes).
#   bash bench/job_memory.sh RENDERER [SIDE...]     (default sides 2000 4000 6000 8000 9999)
set -euo pipefail
render=${1:?usage: job_memory.sh RENDERER [SIDE...]}
shift
sides=("$@")
[ ${#sides[@]} -eq 0 ] && sides=(2000 4000 6000 8000 9999)
seeds=(1 2 3 4 5)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The peak (KB) of one picture of side x side from seed.
peak() {
  /usr/bin/time -o "$out/time" -f %M "$render" --size "$1x$1" --seed "$2" --count 1 --jobs 1 --effects \
    --quiet --out "$out/pictures" >/dev/null
  rm -rf "$out/pictures"
  tail -n 1 "$out/time"
}

base=0
for seed in "${seeds[@]}"; do kb=$(peak 64 "$seed"); [ "$kb" -gt "$base" ] && base=$kb; done
printf 'program alone: %d MB\n' $((base / 1024))
printf '%6s %28s %12s %10s\n' side "peaks MB (seeds ${seeds[*]})" "job MB" canvases
for side in "${sides[@]}"; do
  peaks=() worst=0
  for seed in "${seeds[@]}"; do
    kb=$(peak "$side" "$seed")
    peaks+=($((kb / 1024)))
    [ "$kb" -gt "$worst" ] && worst=$kb
  done
  awk -v s="$side" -v w="$worst" -v b="$base" -v p="${peaks[*]}" 'BEGIN {
    job = (w - b) / 1024; printf "%6d %28s %12.0f %10.2f\n", s, p, job, job / (s * s * 4 / 1048576) }'
done

#!/usr/bin/env bash
# One big picture, painted and saved: pictovance-render at 9999 x 9999 (one
# picture, one job, so the picture has every core), with and without the
# finishing pass, against libpng's default encode of the same picture
# (bench/libpng_default: zlib's default level, every row filter tried on
# every row, the encode alone timed). Several renderers (a build before a
# change and one after) run side by side, seed by seed, in one run on the
# same machine, so their ratios compare like with like.
#
# Printed per renderer, mode and seed: the wall time of the whole run
# (start-up, painting, saving), libpng's time, their ratio; the file sizes;
# the peak resident memory (GNU time), the bitmap (width x height x 4
# bytes), and the peak less the file, in bitmaps. On a shared machine the
# times wander with the load: each is the fastest of REPS runs, and the
# renderer and libpng take turns.
#
# Usage: bench/big_picture.sh RENDER [RENDER...]
# Environment: SIZE (default 9999x9999), SEEDS (default "1 2"), REPS
# (default 3), LIBPNG (default build/bench/libpng_default), MODES (default
# "--no-effects --effects").
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: big_picture.sh RENDER [RENDER...]" >&2; exit 2; }
size=${SIZE:-9999x9999}
seeds=(${SEEDS:-1 2})
reps=${REPS:-3}
modes=(${MODES:---no-effects --effects})
libpng=${LIBPNG:-build/bench/libpng_default}
[ -x "$libpng" ] || { echo "no $libpng (build the benchmarks first)" >&2; exit 1; }
for render in "$@"; do [ -x "$render" ] || { echo "no renderer at $render" >&2; exit 1; }; done
[ -x /usr/bin/time ] || { echo "GNU time is missing: apt-get install -y time" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
width=${size%x*}
height=${size#*x}
bitmap=$((width * height * 4))

printf '%-44s %-11s %5s %8s %8s %6s %9s %9s %8s %8s\n' renderer mode seed "paint+s" libpng ratio \
  "file MB" "libpng MB" "peak MB" "(peak-file)/bitmap"
for seed in "${seeds[@]}"; do
  for mode in "${modes[@]}"; do
    for render in "$@"; do
      best=
      best_libpng=
      for _ in $(seq "$reps"); do
        rm -rf "$work/out"
        /usr/bin/time -o "$work/time" -f '%e %M' "$render" --size "$size" --seed "$seed" --count 1 --jobs 1 \
          "$mode" --quiet --out "$work/out" > /dev/null
        read -r seconds peak_kb < <(tail -n 1 "$work/time")
        file=$(find "$work/out" -name '*.png' | head -n 1)
        read -r libpng_seconds libpng_bytes < <("$libpng" "$file")
        best=$(awk -v a="$seconds" -v b="${best:-$seconds}" 'BEGIN { print (a < b ? a : b) }')
        best_libpng=$(awk -v a="$libpng_seconds" -v b="${best_libpng:-$libpng_seconds}" 'BEGIN { print (a < b ? a : b) }')
      done
      file_bytes=$(stat -c %s "$file")
      awk -v r="$render" -v m="$mode" -v s="$seed" -v t="$best" -v l="$best_libpng" -v f="$file_bytes" \
        -v lb="$libpng_bytes" -v p="$peak_kb" -v b="$bitmap" 'BEGIN {
          printf "%-44s %-11s %5s %8.2f %8.2f %6.2f %9.2f %9.2f %8.0f %8.3f\n", r, m, s, t, l, t / l,
            f / 1048576, lb / 1048576, p / 1024, (p * 1024 - f) / b }'
    done
  done
done

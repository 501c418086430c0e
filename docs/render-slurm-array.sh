#!/bin/bash
# One renderer run spread over the tasks of a Slurm job array: task T paints
# pictures T x K to T x K + K - 1 of the run seeded SEED, exactly as one
# process painting the whole run would, into a folder of its own,
# RESULTS/part-T (T in five digits). See docs/render-on-slurm.md.
#
#   sbatch --array=0-9 docs/render-slurm-array.sh [RENDERER OPTION]...
#
# Settings, from the environment sbatch passes on (export them or give
# --export=ALL,SEED=7,...): SEED (default 42), PER_TASK (K, default 1000),
# RESULTS (default ./results), RENDER (default pictovance-render on PATH;
# a path for a renderer that is not installed). Options after the script's
# name go to the renderer (--size 1920x1080, --no-effects, --source FILE).
#
# A part appears complete or not at all: each attempt writes into a hidden
# folder named after its job and its restart count, and renames it to part-T
# only once the renderer ended with status 0. A requeued or failed task never
# mixes its files with an earlier attempt's, and a part once published is
# left as it is. A killed attempt leaves its hidden folder (.part-T.JOB.N),
# which no one counts; remove those once the array has finished.
#
#SBATCH --job-name=pictovance-render
#SBATCH --array=0-9
#SBATCH --cpus-per-task=2
#SBATCH --mem=2G
#SBATCH --output=pictovance-render-%A_%a.out
set -euo pipefail

seed=${SEED:-42}
per_task=${PER_TASK:-1000}
results=${RESULTS:-$PWD/results}
render=${RENDER:-pictovance-render}
task=${SLURM_ARRAY_TASK_ID:?submit this script with sbatch --array}
part=$(printf 'part-%05d' "$task")

if [ -e "$results/$part" ]; then
  echo "$part is painted already"
  exit 0
fi
attempt="$results/.$part.${SLURM_JOB_ID:-0}.${SLURM_RESTART_COUNT:-0}"
rm -rf "$attempt"
mkdir -p "$attempt"
# The renderer prints each path in picture order once its file is complete;
# the names, kept beside the pictures, map every file to its picture index.
"$render" --seed "$seed" --first $((task * per_task)) --count "$per_task" \
  --jobs "${SLURM_CPUS_PER_TASK:-1}" --quiet --out "$attempt" "$@" >"$attempt/order.txt"
sed -i 's|.*/||' "$attempt/order.txt"
# One rename publishes the whole part; it fails, leaving the published part
# alone, if a part of that name appeared meanwhile.
mv -T "$attempt" "$results/$part"
echo "$part: $per_task pictures from $((task * per_task))"

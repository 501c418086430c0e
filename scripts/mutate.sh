#!/usr/bin/env bash
# Mutation check: does the suite fail when the code breaks?
#
# Each entry of scripts/mutations.txt is one small, plausible fault (an
# off-by-one, a swapped comparison, a dropped check, a wrong constant). The
# script copies the tree once to a scratch folder, builds it there, and for
# each fault in turn: puts the fault into its file, builds incrementally,
# runs the suites the entry names (ctest -R), and only when those pass the
# whole suite; then puts the file back. A fault the tests notice is caught,
# one they do not is missed. Entries marked `equivalent:` cannot change
# what the program does; they are listed, never run or counted. A fault
# that does not apply or does not build is an error in the list.
#
#   bash scripts/mutate.sh [--only PREFIX]... [-j N] [--min PERCENT]
#                          [--list FILE] [--scratch DIR] [--no-baseline] [--check]
#
# --only imaging/ runs the faults of one folder (or one id); -j is passed
# to the build and to ctest (default 2); --check only tries that each
# entry applies, without building. The exit status is 1 when a folder
# scores below --min (default 90), 2 on an error in the list. The scratch
# folder (default: beside the tree, so that ccache shares the tree's own
# build objects) keeps its build for the next run. Slow: a build and a
# test run per fault; not part of CI.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list="$root/scripts/mutations.txt"
scratch="$(dirname "$root")/mutate-scratch-$(basename "$root")"
jobs=2
min=90
baseline=1
check=0
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    --only) only+=("$2"); shift 2 ;;
    -j) jobs="$2"; shift 2 ;;
    -j*) jobs="${1#-j}"; shift ;;
    --min) min="$2"; shift 2 ;;
    --list) list="$2"; shift 2 ;;
    --scratch) scratch="$2"; shift 2 ;;
    --no-baseline) baseline=0; shift ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
    *) echo "mutate: unknown argument $1" >&2; exit 2 ;;
  esac
done

# --- The list: one block per fault --------------------------------------------
# [folder/id]  file: PATH  suites: REGEX  sed: EXPR (repeatable)
# patch: followed by lines "|<diff line>"   equivalent: REASON
ids=() files=() suites=() edits=() kinds=() notes=()
add_entry() {
  [ -n "${id:-}" ] || return 0
  ids+=("$id") files+=("$file") suites+=("$suite") edits+=("$edit") kinds+=("$kind") notes+=("$note")
}
id=""
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '#'*|'') ;;
    '['*']') add_entry; id="${line#[}"; id="${id%]}"; file="" suite="" edit="" kind="" note="" ;;
    file:*) file=$(echo "${line#file:}" | xargs) ;;
    suites:*) suite=$(echo "${line#suites:}" | xargs) ;;
    sed:*) kind="sed"; edit+="${line#sed: }"$'\n' ;;
    patch:*) kind="patch" ;;
    '|'*) edit+="${line#|}"$'\n' ;;
    equivalent:*) kind="equivalent"; note="${line#equivalent: }" ;;
    *) echo "mutate: $list: cannot read \"$line\"" >&2; exit 2 ;;
  esac
done <"$list"
add_entry

selected() {
  [ ${#only[@]} -eq 0 ] && return 0
  local prefix
  for prefix in "${only[@]}"; do [[ "$1" == "$prefix"* ]] && return 0; done
  return 1
}

# Puts entry k's fault into its file (in the current folder); false when
# the file does not change.
apply_fault() {
  local k="$1" target="${files[$1]}" expr args=()
  if [ "${kinds[$k]}" = sed ]; then
    while IFS= read -r expr; do [ -n "$expr" ] && args+=(-e "$expr"); done <<<"${edits[$k]}"
    sed "${args[@]}" "$target.orig" >"$target"
  else
    printf '%s' "${edits[$k]}" | patch --quiet --no-backup-if-mismatch -r - "$target" >/dev/null 2>&1 || true
  fi
  ! cmp -s "$target" "$target.orig"
}

if [ "$check" = 1 ]; then
  cd "$root"
  bad=0
  for k in "${!ids[@]}"; do
    selected "${ids[$k]}" && [ "${kinds[$k]}" != equivalent ] || continue
    if [ ! -f "${files[$k]}" ] || [ -z "${suites[$k]}" ]; then
      echo "mutate: ${ids[$k]}: no such file, or no suites named"; bad=1; continue
    fi
    cp -p "${files[$k]}" "${files[$k]}.orig"
    apply_fault "$k" || { echo "mutate: ${ids[$k]}: does not apply to ${files[$k]}"; bad=1; }
    mv "${files[$k]}.orig" "${files[$k]}"  # its own time back: nothing to rebuild
  done
  [ "$bad" = 0 ] && echo "mutate: every entry applies"
  exit $((bad * 2))
fi

# --- The scratch tree and its build ------------------------------------------
mkdir -p "$scratch/logs"
# The files as they are now, build folders left out. Only files whose bytes
# differ are copied, with a fresh time: make then builds what changed since
# the last run, and never keeps an object built from a fault.
(cd "$root" && find . \( -path './build*' -o -path ./.git -o -path ./.cache \) -prune -o -type f -print) |
  while IFS= read -r name; do
    if ! cmp -s "$root/$name" "$scratch/$name"; then
      mkdir -p "$scratch/$(dirname "$name")" && cp "$root/$name" "$scratch/$name"
    fi
  done
cd "$scratch"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
if [ ! -f build/CMakeCache.txt ]; then
  # The flags of the normal build, so that ccache serves its objects.
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTOVANCE_WERROR=ON "${launcher[@]}" >/dev/null
fi
echo "mutate: building the scratch copy in $scratch/build"
cmake --build build -j"$jobs" >"$scratch/logs/build.log" 2>&1 ||
  { echo "mutate: the unchanged tree does not build (see $scratch/logs/build.log)" >&2; exit 2; }

export QT_QPA_PLATFORM=offscreen
run_ctest() {  # log, ctest arguments...; fails when a test fails or none ran
  local log="$1"; shift
  (cd build && ctest -j"$jobs" --timeout 300 --output-on-failure "$@") >"$log" 2>&1 || return 1
  ! grep -q "No tests were found" "$log"
}

# The programs behind the tests a regex names (a test is named after its
# program, or "program.Case" for GoogleTest).
mapfile -t all_targets < <(cmake --build build --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p')
suite_targets() {
  local name
  (cd build && ctest -N -R "$1") | sed -n 's/^ *Test *#[0-9]*: \([^ .]*\).*/\1/p' | sort -u |
    while read -r name; do
      [[ " ${all_targets[*]} " == *" $name "* ]] && echo "$name"
    done
  return 0
}
failed_tests() { sed -n '/tests FAILED/,$p' "$1" | grep -oE '[0-9]+ - [^ ]+' | sed -E 's/^[0-9]+ - //' || true; }

if [ "$baseline" = 1 ]; then
  pattern=""
  for k in "${!ids[@]}"; do
    selected "${ids[$k]}" && [ "${kinds[$k]}" != equivalent ] && pattern+="${pattern:+|}${suites[$k]}"
  done
  if [ -n "$pattern" ] && ! run_ctest "$scratch/logs/baseline.log" -R "$pattern"; then
    echo "mutate: the named suites fail without any fault (see $scratch/logs/baseline.log)" >&2
    exit 2
  fi
fi

# --- One fault at a time --------------------------------------------------------
current=""
restore() {
  # A fresh time, so that make builds the original again.
  if [ -n "$current" ]; then cat "$current.orig" >"$current" && rm -f "$current.orig"; fi
  current=""
}
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM

declare -A caught counted
folders=()
errors=0
for k in "${!ids[@]}"; do
  fault="${ids[$k]}"
  selected "$fault" || continue
  folder="${fault%%/*}"
  [[ " ${folders[*]} " == *" $folder "* ]] || folders+=("$folder")
  : "${caught[$folder]:=0}" "${counted[$folder]:=0}"
  if [ "${kinds[$k]}" = equivalent ]; then
    printf '%-11s %-34s %s\n' equivalent "$fault" "${notes[$k]}"
    continue
  fi
  target="${files[$k]}"
  log="$scratch/logs/${fault//\//_}.log"
  if [ ! -f "$target" ] || [ -z "${suites[$k]}" ]; then
    printf '%-11s %-34s %s\n' ERROR "$fault" "no such file, or no suites named"
    errors=$((errors + 1)); continue
  fi
  cp "$target" "$target.orig"
  current="$target"
  if ! apply_fault "$k"; then
    printf '%-11s %-34s %s\n' ERROR "$fault" "does not apply to $target"
    errors=$((errors + 1)); restore; continue
  fi
  # What the named suites run first; everything only if they pass.
  mapfile -t needed < <(suite_targets "${suites[$k]}")
  [ ${#needed[@]} -eq 0 ] || needed=(--target "${needed[@]}")
  if ! cmake --build build -j"$jobs" "${needed[@]}" >"$log" 2>&1; then
    printf '%-11s %-34s %s\n' ERROR "$fault" "does not build (see $log)"
    errors=$((errors + 1)); restore; continue
  fi
  counted[$folder]=$((counted[$folder] + 1))
  if ! run_ctest "$log" -R "${suites[$k]}"; then
    caught[$folder]=$((caught[$folder] + 1))
    failed=$(failed_tests "$log" | head -n 3 | paste -sd ' ')
    printf '%-11s %-34s %s\n' caught "$fault" "$failed"
  elif ! cmake --build build -j"$jobs" >>"$log" 2>&1; then
    printf '%-11s %-34s %s\n' ERROR "$fault" "does not build (see $log)"
    errors=$((errors + 1)); counted[$folder]=$((counted[$folder] - 1))
  elif ! run_ctest "$log.all"; then
    caught[$folder]=$((caught[$folder] + 1))
    failed=$(failed_tests "$log.all" | head -n 3 | paste -sd ' ')
    printf '%-11s %-34s %s\n' caught "$fault" "only by other suites: $failed"
  else
    printf '%-11s %-34s %s\n' MISSED "$fault" "(suites: ${suites[$k]})"
  fi
  restore
done

# --- Score per folder -----------------------------------------------------------
echo
printf '%-14s %7s %7s %7s\n' folder caught faults score
status=0
for folder in "${folders[@]}"; do
  c=${caught[$folder]} n=${counted[$folder]}
  if [ "$n" -eq 0 ]; then printf '%-14s %7s %7s %7s\n' "$folder/" - 0 -; continue; fi
  pct=$((100 * c / n))
  printf '%-14s %7d %7d %6d%%\n' "$folder/" "$c" "$n" "$pct"
  [ "$pct" -ge "$min" ] || status=1
done
if [ "$errors" -gt 0 ]; then
  echo "mutate: $errors entries do not apply or do not build: fix them in $list" >&2
  exit 2
fi
exit "$status"

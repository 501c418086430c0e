#!/usr/bin/env bash
# One renderer run spread by a real scheduler: starts a single-node Slurm
# cluster of its own (munged on its own socket with a key made here,
# slurmctld and slurmd on free ports, a minimal slurm.conf, everything in a
# temporary folder), submits docs/render-slurm-array.sh as a 4-task array of
# one seed, waits for it (bounded), and compares every picture with one
# local run of the whole, pixel for pixel. Exits 77 (skipped) with the
# reason where Slurm cannot be started: not root, packages missing, a daemon
# that does not come up.
#
# Usage: slurm_array_test.sh RENDERER SAME_PIXELS ARRAY_SCRIPT
set -euo pipefail
render=$1
same_pixels=$2
array_script=$3
tasks=4
per_task=2
seed=20261207
options=(--size 96x64)

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || skip "slurmd and munged are started as root; run as root to test the Slurm array"
for tool in munged munge slurmctld slurmd sbatch squeue sinfo; do
  command -v "$tool" >/dev/null || skip "$tool is missing (Debian packages slurm-wlm and munge, see scripts/install-deps.sh)"
done

dir=$(mktemp -d /tmp/pictovance-slurm.XXXXXX)
# munged wants every folder on the way to its socket searchable by all and
# writable by none but its owner.
chmod 755 "$dir"
mkdir -m 755 "$dir/run"
mkdir -m 700 "$dir/munge" "$dir/state" "$dir/spool"
stop() {
  local pids=()
  for daemon in slurmd slurmctld munged; do
    if [ -s "$dir/run/$daemon.pid" ]; then pids+=("$(cat "$dir/run/$daemon.pid")"); fi
  done
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
  # The daemons remove their own files as they go; give them a moment.
  for _ in $(seq 50); do
    local alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 1 ] || break
    sleep 0.1
  done
  rm -rf "$dir"
}
trap stop EXIT

# Logs of a daemon that failed to come up, then the skip.
cannot_start() {
  for log in "$dir"/*.log "$dir"/munge/*.log; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 5 "$log"; }
  done
  skip "$1"
}

# A TCP port nothing listens on.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    [ "$port" != "${taken:-}" ] || continue
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

head -c 1024 /dev/urandom >"$dir/munge/munge.key"
chmod 400 "$dir/munge/munge.key"
socket=$dir/run/munge.socket
munged --key-file="$dir/munge/munge.key" --socket="$socket" --pid-file="$dir/run/munged.pid" \
  --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed" ||
  cannot_start "munged did not start"
munge -S "$socket" -n | unmunge -S "$socket" >/dev/null || cannot_start "munged does not answer"

controller_port=$(free_port)
taken=$controller_port
node_port=$(free_port)
host=$(uname -n | cut -d. -f1)
export SLURM_CONF=$dir/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=pictovance
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$controller_port
SlurmdPort=$node_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
# Start tasks as soon as they are submitted, and all four at once on a
# node that claims four processors whatever the machine has.
SchedulerParameters=batch_sched_delay=0,sched_min_interval=0
SlurmdParameters=config_overrides
MpiDefault=none
NodeName=pictovance-node NodeAddr=127.0.0.1 CPUs=4 RealMemory=1024 State=UNKNOWN
PartitionName=render Nodes=ALL Default=YES MaxTime=10 State=UP
EOF
slurmctld -f "$SLURM_CONF" || cannot_start "slurmctld did not start"
slurmd -f "$SLURM_CONF" -N pictovance-node || cannot_start "slurmd did not start"
for _ in $(seq 150); do
  [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break
  sleep 0.2
done
[ "$(sinfo -h -o %T 2>/dev/null)" = idle ] || cannot_start "the node did not come up within 30 seconds"

started=$SECONDS
# The settings go by the environment: naming them in --export makes sbatch
# ask slurmd to load the user's login environment, seconds per task.
job=$(SEED=$seed PER_TASK=$per_task RESULTS=$dir/results RENDER=$render \
  sbatch --parsable --array=0-$((tasks - 1)) --cpus-per-task=1 --mem=200M --chdir="$dir" \
  --output="$dir/task-%a.out" --export=ALL "$array_script" "${options[@]}") || fail "sbatch refused the array"
job=${job%%;*}
while [ -n "$(squeue -h -j "$job" 2>/dev/null)" ]; do
  [ $((SECONDS - started)) -lt 60 ] || fail "the array did not end within a minute: $(squeue -h -j "$job")"
  sleep 0.2
done
echo "slurm: $tasks tasks done in $((SECONDS - started)) s"

"$render" --seed "$seed" --count $((tasks * per_task)) --jobs 2 --quiet --out "$dir/whole" "${options[@]}" \
  >"$dir/whole.txt"
mapfile -t whole <"$dir/whole.txt"
[ "${#whole[@]}" = $((tasks * per_task)) ] || fail "the local run printed ${#whole[@]} paths"

compared=0
for ((t = 0; t < tasks; ++t)); do
  part=$dir/results/$(printf 'part-%05d' "$t")
  [ -d "$part" ] || fail "task $t published no folder: $(cat "$dir/task-$t.out" 2>/dev/null)"
  mapfile -t names <"$part/order.txt"
  [ "${#names[@]}" = "$per_task" ] || fail "task $t lists ${#names[@]} pictures"
  [ "$(find "$part" -name '*.png' | wc -l)" = "$per_task" ] || fail "task $t left other pictures"
  for ((k = 0; k < per_task; ++k)); do
    "$same_pixels" "$part/${names[$k]}" "${whole[$((t * per_task + k))]}" ||
      fail "picture $((t * per_task + k)) differs"
    compared=$((compared + 1))
  done
done
hidden=$(find "$dir/results" -mindepth 1 -maxdepth 1 -name '.*')
[ -z "$hidden" ] || fail "attempt folders left: $hidden"
# Neighbouring pictures differ: the comparison can tell pictures apart.
if "$same_pixels" "${whole[0]}" "${whole[1]}" 2>/dev/null; then fail "pictures 0 and 1 are alike"; fi
echo "slurm: $compared pictures of $tasks tasks match the local run pixel for pixel"

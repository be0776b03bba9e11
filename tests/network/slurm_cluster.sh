#!/usr/bin/env bash
# A one-machine Slurm cluster for basinfit-batch: munged, slurmctld and slurmd started on
# localhost with a private configuration, key, ports and state in a temporary folder; a 3-task
# array and its merge job submitted through `basinfit-batch slurm --submit`; the merged database
# compared with a local batch's; then a task cancelled with scancel, its shard named missing by
# the merge, rerun alone and merged.  Every daemon started here is stopped by its process id.
# Usage: slurm_cluster.sh BUILD_APPS_DIR SOURCE_DIR.  Exit 77: skipped (Slurm not installed).
set -uo pipefail
apps="$1"
source_dir="$2"
batch="$apps/basinfit-batch"

for program in munged slurmctld slurmd sbatch squeue scancel sinfo setpriv python3; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "skipped: $program is not installed (scripts/install-deps installs slurm-wlm and munge)"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the test cluster's daemons need root"
  exit 77
fi

work="$(mktemp -d)"
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for log in "$work"/slurm/*.log "$work"/munge/munged.log; do [ -f "$log" ] && { echo "== $log"; tail -20 "$log"; }; done
  exit 1
}
# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  for _ in $(seq 1 $(( $2 * 5 ))); do eval "$1" && return 0; sleep 0.2; done
  return 1
}

# The network: the two bundled run folders, the PDDX example and a second copy of the metric one.
mkdir -p "$work/net"
for example in metric english; do
  mkdir -p "$work/net/$example"
  cp "$source_dir/examples/$example/"*.dat "$work/net/$example/"
  printf '9\nstandard.dat\ngeneral.dat\ndeflections.dat\ndetail.txt\nsummary.txt\nrun.log\n' >"$work/net/$example/control.txt"
done
cp "$source_dir/examples/pddx/survey.pdx" "$source_dir/examples/pddx/structure.csv" "$work/net/"
printf 'name,source,structure\nmetric,metric,\nenglish,english,\nroute12,survey.pdx,structure.csv\nmetric-again,metric,\n' \
  >"$work/net/network.csv"
"$batch" run "$work/net/network.csv" --out "$work/local" -j 2 || fail "the local batch"

# munge with a key of its own; its socket in a folder every user may enter.
mkdir -p "$work/munge" "$work/munge-socket"
head -c 1024 /dev/urandom >"$work/munge/munge.key"
chown -R munge:munge "$work/munge" "$work/munge-socket"
chmod 700 "$work/munge"
chmod 755 "$work/munge-socket"
chmod 400 "$work/munge/munge.key"
socket="$work/munge-socket/munge.socket"
setpriv --reuid=munge --regid=munge --init-groups munged -F --socket="$socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" --seed-file="$work/munge/seed" &
pids+=($!)
wait_for "[ -S '$socket' ]" 20 || fail "munged did not start"

# Slurm on ports of its own, so another cluster on this machine is left alone and never reached:
# two TCP ports that nothing listens on, as the kernel hands them out (held together, so they
# differ), with the munge socket and key above and the state, spool, pid and log files in the
# temporary folder.  Nothing here uses a fixed port, the system's munge socket or its key.  A
# port taken by someone else between the choice and slurmctld's start makes a daemon exit: then
# two fresh ports are taken, up to three times.
free_ports() {
  python3 -c '
import socket
held = []
for _ in range(2):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))'
}
mkdir -p "$work/slurm/state" "$work/slurm/spool"
export SLURM_CONF="$work/slurm/slurm.conf"
write_conf() {
  cat >"$SLURM_CONF" <<CONF
ClusterName=basinfit-test
SlurmctldHost=localhost
SlurmctldPort=$1
SlurmdPort=$2
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
StateSaveLocation=$work/slurm/state
SlurmdSpoolDir=$work/slurm/spool
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurm/slurmctld.log
SlurmdLogFile=$work/slurm/slurmd.log
ReturnToService=2
NodeName=localhost NodeAddr=127.0.0.1 CPUs=2 RealMemory=1000 State=UNKNOWN
PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
}
started=0
for attempt in 1 2 3; do
  read -r ctld_port slurmd_port < <(free_ports) || fail "no free ports"
  write_conf "$ctld_port" "$slurmd_port"
  slurmctld -D -c >/dev/null 2>&1 &
  ctld=$!
  slurmd -D -N localhost >/dev/null 2>&1 &
  slurmd_pid=$!
  pids+=("$ctld" "$slurmd_pid")
  if wait_for "sinfo -h -o %t 2>/dev/null | grep -q idle" 60; then started=1; break; fi
  # A daemon that could not bind its port has exited; any other failure is not one to retry.
  if kill -0 "$ctld" 2>/dev/null && kill -0 "$slurmd_pid" 2>/dev/null; then break; fi
  echo "ports $ctld_port and $slurmd_port: a daemon exited (attempt $attempt); taking two others"
  kill "$ctld" "$slurmd_pid" 2>/dev/null
  wait "$ctld" "$slurmd_pid" 2>/dev/null
done
[ "$started" -eq 1 ] || fail "the node did not come up"
echo "cluster on ports $ctld_port (slurmctld) and $slurmd_port (slurmd), munge socket $socket"

# Waits (bounded) until no job of the given ids is pending, running or completing.
wait_jobs() {
  wait_for "[ -z \"\$(squeue -h -j $1 -t PD,R,CG,CF 2>/dev/null)\" ]" 300 || fail "jobs $1 did not finish"
}

# A database as text, clock columns left out.
dump() {
  python3 - "$1" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for table, order in [("surveys", "survey"), ("stations", "survey, row"), ("drops", "survey, row"),
                     ("sensors", "survey, row"), ("sections", "survey, row")]:
    cursor = db.execute(f"SELECT * FROM {table} ORDER BY {order}")
    names = [d[0] for d in cursor.description]
    for row in cursor:
        print(table, [v for n, v in zip(names, row) if n not in ("started_at", "finished_at")])
PY
}
dump "$work/local/results.sqlite" >"$work/local.txt"

# The whole array and its merge.
ids=$("$batch" slurm "$work/net/network.csv" --out "$work/cluster" --tasks 3 --submit) || fail "submitting: $ids"
array=$(echo "$ids" | awk '/^array/ {print $2}')
merge=$(echo "$ids" | awk '/^merge/ {print $2}')
[ -n "$array" ] && [ -n "$merge" ] || fail "no job ids in: $ids"
wait_jobs "$array,$merge"
dump "$work/cluster/results.sqlite" >"$work/cluster.txt"
cmp -s "$work/local.txt" "$work/cluster.txt" || fail "the merged database differs from the local batch's: $(diff "$work/local.txt" "$work/cluster.txt" | head -5)"
echo "array $array and merge $merge: the merged database equals the local batch's"

# A task cancelled before it runs: the merge names its shard, a rerun of that task completes it.
ids=$("$batch" slurm "$work/net/network.csv" --out "$work/cancelled" --tasks 3 --submit) || fail "submitting: $ids"
array=$(echo "$ids" | awk '/^array/ {print $2}')
merge=$(echo "$ids" | awk '/^merge/ {print $2}')
scancel "${array}_2"
wait_jobs "$array,$merge"
grep -q "shards missing: 2" "$work/cancelled/slurm/merge-$merge.out" ||
  fail "the merge did not name the cancelled shard: $(cat "$work/cancelled/slurm/merge-$merge.out")"
rerun=$(sbatch --parsable --array=2 "$work/cancelled/slurm/array.sh") || fail "resubmitting task 2"
wait_jobs "$rerun"
"$batch" merge "$work/cancelled" || fail "the merge after the rerun"
dump "$work/cancelled/results.sqlite" >"$work/cancelled.txt"
cmp -s "$work/local.txt" "$work/cancelled.txt" || fail "after the rerun the database differs from the local batch's"
echo "task ${array}_2 cancelled, named missing by merge $merge, rerun as $rerun and merged"

# Hostile cases on the cluster, each naming the fault it guards.
# 1. An output folder whose name holds a blank, '%', quotes, '#' and '$' broke the #SBATCH lines
#    (a '%' was expanded by Slurm, so every task and the merge failed while --submit ended 0):
#    now each line carries it, and --submit --wait ends 0 with the local batch's database.
odd="$work/o d%d\"q'#\$x"
"$batch" slurm "$work/net/network.csv" --out "$odd" --tasks 3 --submit --wait >"$work/odd.out" 2>"$work/odd.err" ||
  fail "an odd output folder: $(cat "$work/odd.err")"
grep -q "4 surveys ok, 0 not" "$work/odd.err" || fail "no summary of the jobs: $(cat "$work/odd.err")"
dump "$odd/results.sqlite" >"$work/odd.txt"
cmp -s "$work/local.txt" "$work/odd.txt" || fail "an odd output folder: the database differs from the local batch's"
echo "an output folder named $odd: every task and the merge ran"
# 2. --submit reported success for jobs that failed: with --wait, a task that cannot write its
#    shard (a folder in the place of its database) ends the command with status 1 and says why.
mkdir -p "$work/broken/shards/1.sqlite"
if "$batch" slurm "$work/net/network.csv" --out "$work/broken" --tasks 3 --submit --wait >"$work/broken.out" \
  2>"$work/broken.err"; then
  fail "--submit --wait ended 0 although task 1 failed: $(cat "$work/broken.err")"
fi
grep -q "the merge job [0-9]* ended with status" "$work/broken.err" ||
  fail "a failed task not said: $(cat "$work/broken.err")"
echo "a failed task: --submit --wait said so and ended with status 1"

#!/usr/bin/env bash
# spc_sweep under a real Slurm cluster of this one machine: munge, slurmctld
# and slurmd (as root) are started for the test with a configuration of its
# own, and stopped at its end.
#
#   slurm_test.sh SPC_SWEEP SPC_GEN EXAMPLES_DIR
#
# 1. The example job script, submitted with a one-minute limit and a signal
#    ahead of it on a network that needs longer than a job: the signal stops
#    each run, the job submits the next, and the figures at the end are those
#    of an uninterrupted run, with one run-log line.
# 2. scancel --signal=TERM on an srun step: status 75, then the same command
#    resumes.
# Exit status 77 (skipped) where Slurm or root is missing.
set -euo pipefail

sweep=$1 gen=$2 examples=$3
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "needs root to start slurmctld and slurmd"
for c in slurmctld slurmd sbatch srun scancel squeue sinfo munged munge; do
  command -v "$c" >/dev/null || skip "$c is not installed (apt-get install slurm-wlm munge)"
done
[ -r /etc/munge/munge.key ] || skip "munge has no key (/etc/munge/munge.key)"

work=$(mktemp -d /tmp/spc_slurm_XXXXXX)
chmod 755 "$work"
mkdir -p "$work/state" "$work/spool" "$work/run"
port=$((20000 + $$ % 20000))
host=$(hostname)
export SLURM_CONF=$work/slurm.conf
cat > "$SLURM_CONF" <<CONF
ClusterName=spctest
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
SlurmctldPort=$port
SlurmdPort=$((port + 1))
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=30
MinJobAge=600
NodeName=$host CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES
CONF

cleanup() {
  for daemon in slurmd slurmctld; do
    [ -f "$work/$daemon.pid" ] && kill "$(cat "$work/$daemon.pid")" 2>/dev/null || true
  done
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT

if ! munge -n >/dev/null 2>&1; then
  mkdir -p /run/munge /var/log/munge /var/lib/munge
  chown munge:munge /run/munge /var/log/munge /var/lib/munge
  runuser -u munge -- munged || fail "munged does not start"
fi
slurmctld || fail "slurmctld does not start: $(cat "$work/slurmctld.log" 2>/dev/null)"
slurmd || fail "slurmd does not start: $(cat "$work/slurmd.log" 2>/dev/null)"
for _ in $(seq 60); do
  sinfo -h -o %t 2>/dev/null | grep -q idle && break
  sleep 1
done
sinfo -h -o %t | grep -q idle || fail "the node is not idle: $(sinfo 2>&1)"

cd "$work/run"
export OMPI_MCA_btl=self,vader
"$gen" grid 120 120 --seed 7 --lengths 1 10000 -o g.gr
# The figures of one uninterrupted run (the repetitions change only the time).
srun -n 2 --mpi=pmix "$sweep" --repetitions 1 --log whole.log g.gr > whole.out ||
  fail "srun does not start the ranks: $(cat whole.out)"
expected=$(grep -v "^Running time\|^spc_sweep:" whole.out)

# 1. The job script: a one-minute limit, the signal asked for 30 s ahead of it.
SBATCH_TIMELIMIT=1 SBATCH_SIGNAL=USR1@30 SPC_SWEEP=$sweep CHECKPOINTS=$work/run/ck \
  sbatch --parsable "$examples/slurm/spc_sweep.sbatch" --repetitions 8 g.gr > first.id
for _ in $(seq 600); do
  [ -z "$(squeue -h -n spc_sweep -o %i)" ] && break
  sleep 1
done
[ -z "$(squeue -h -n spc_sweep -o %i)" ] || fail "the jobs did not end in 10 minutes: $(squeue)"
out=spc_sweep-spc_sweep.out
grep -q "stopped by SIGUSR1: .* source runs are recorded in the checkpoint" "$out" ||
  fail "no run was stopped by the signal: $(cat "$out")"
grep -q "submits the next" "$out" || fail "no job submitted the next: $(cat "$out")"
[ "$(grep -v "^Running time\|^spc_sweep\|^srun\|^Submitted" "$out")" = "$expected" ] ||
  fail "the figures differ from an uninterrupted run's: $(cat "$out")"
[ "$(grep -c "^g.gr " spc_heap_output.txt)" -eq 1 ] || fail "not one run-log line: $(cat spc_heap_output.txt)"
[ -z "$(ls ck/*.checkpoint 2>/dev/null)" ] || fail "a checkpoint was left"

# 2. scancel --signal=TERM on the step of an srun.
rm -rf ck2
(set +e; srun -n 2 --mpi=pmix "$sweep" --checkpoint ck2 --log step.log g.gr > step.out 2> step.err; echo $? > step.status) &
for _ in $(seq 600); do
  [ "$(cat ck2/*.checkpoint 2>/dev/null | wc -l)" -ge 30 ] && break
  sleep 0.1
done
step=$(squeue -h -s -o %i | grep '\.0$' | head -1)
[ -n "$step" ] || fail "no srun step to signal"
scancel --signal=TERM "$step"
wait
[ "$(cat step.status)" = 75 ] || fail "the step ended with $(cat step.status), not 75: $(cat step.err)"
grep -q "stopped by SIGTERM: " step.err || fail "no word of the stop: $(cat step.err)"
[ ! -s step.log ] || fail "a run-log line for a run cut short"
srun -n 2 --mpi=pmix "$sweep" --checkpoint ck2 --log step.log g.gr > step.out 2> step.err ||
  fail "the resumed step: $(cat step.err)"
[ "$(grep -v "^Running time\|^spc_sweep:" step.out)" = "$expected" ] || fail "the resumed figures: $(cat step.out)"
grep -q " [1-9][0-9]* source runs resumed" step.out || fail "nothing was resumed: $(cat step.out)"
echo "ok"

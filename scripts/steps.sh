# shellcheck shell=bash disable=SC2034
# Sourced by run.sh and scripts/main_job.sh: the long steps of a run (the build, the main job, the pipelines) run
# as background jobs that the script waits for, so that a signal to the script (SIGINT, SIGTERM) is handled at
# once rather than when the step ends, and the step can be stopped then.

# norva_step LOG COMMAND...: runs the command, its output and errors into the file LOG (empty: the script's own),
# and waits for it; returns its status. The command runs in a process group of its own, with the processes it
# starts: norva_stop_steps stops them as a whole, a terminal's Ctrl-C reaches the script alone, and the command keeps
# the default handling of SIGINT (a background job without a process group of its own would ignore it). The call
# itself takes no redirection: a signal handler that runs during the wait writes where the script writes.
norva_step() {
  local log=$1
  shift
  set -m
  if [ -n "$log" ]; then "$@" </dev/null >"$log" 2>&1 & else "$@" </dev/null & fi
  set +m
  local status=0
  wait "$!" || status=$?
  return "$status"
}

# norva_stop_steps SIGNAL: sends SIGNAL (TERM, INT) to the process group of every step still running and waits for
# it; norva_step_status is then the status of the last one (empty when none was running).
norva_stop_steps() {
  local pid
  norva_step_status=""
  for pid in $(jobs -p); do
    kill "-$1" -- "-$pid" 2>/dev/null || kill "-$1" "$pid" 2>/dev/null || true
    norva_step_status=0
    wait "$pid" 2>/dev/null || norva_step_status=$?
  done
}

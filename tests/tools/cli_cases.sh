# Sourced by the command-line tests of the main program and of the main job. The caller sets `scratch` (a
# temporary folder) and `failures` (0), the tests of the main job through main_job_setup, and the array
# `cli_command` (the command and its first arguments).

# main_job_setup: the start of a test of the main job. Makes `scratch` (removed at exit), sets `failures` to 0 and
# NORVA_PLATFORM to sim, and clears the variables that would send the run elsewhere. Under the sanitizers
# (NORVA_GST_PRELOAD set) the programs of the build need no preload, but the plug-ins must be scanned in their own
# process, and the system's plug-ins leave allocations behind at exit.
main_job_setup() {
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  unset NORVA_OUTPUT_DIR NORVA_SIM_PACED_FPS GST_PLUGIN_PATH
  export NORVA_PLATFORM=sim
  failures=0
  if [ -n "${NORVA_GST_PRELOAD:-}" ]; then
    export GST_REGISTRY_FORK=no ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
  fi
}

# take_envs ARGS...: the VAR=VALUE arguments before "--" into the caller's array `envs` (the caller then shifts
# ${#envs[@]} + 1 arguments).
take_envs() {
  envs=()
  while [ "$1" != "--" ]; do
    envs+=("$1")
    shift
  done
}

# unusable_folders: output folders the run cannot use. Sets `long_name` (longer than a folder's name may be) and
# `long_path` (longer than the system takes), and makes the work folders of the cases dangling-link (out: a link to
# nothing) and link-loop (out: a link that loops).
unusable_folders() {
  long_name=$(printf 'x%.0s' {1..300})
  long_path=deep
  for _ in {1..24}; do long_path="$long_path/$(printf 'y%.0s' {1..200})"; done
  mkdir -p "$scratch/work-dangling-link" "$scratch/work-link-loop"
  ln -s nowhere "$scratch/work-dangling-link/out"
  ln -s out "$scratch/work-link-loop/out"
}

# report_case NAME: "ok" for a case whose caller's array `problems` is empty, else "FAIL" and the problems, counted
# in `failures`.
report_case() {
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    printf '     %s\n' "${problems[@]}"
    failures=$((failures + 1))
  fi
}

# case NAME STATUS STDERR [env VAR=VALUE...] -- ARGS...
# Runs the command from a fresh work folder. STDERR: the expected standard error, exactly (one line, or "" for
# none). A case that fails must leave the work folder as it found it and print no output folder.
case_() {
  local name=$1 status=$2 stderr=$3
  shift 3
  local envs=()
  take_envs "$@"
  shift $((${#envs[@]} + 1))
  local work="$scratch/work-$name"
  mkdir -p "$work"
  touch "$work/a-file"
  local before
  before=$(cd "$work" && find . | sort)
  (cd "$work" && env "${envs[@]}" "${cli_command[@]}" "$@" >"$scratch/$name.out" 2>"$scratch/$name.err")
  local got=$?
  local problems=()
  [ "$got" -eq "$status" ] || problems+=("exit status $got, expected $status")
  [ "$(cat "$scratch/$name.err")" = "$stderr" ] || problems+=("standard error: $(cat "$scratch/$name.err")")
  if [ "$status" -ne 0 ]; then
    [ "$(cd "$work" && find . | sort)" = "$before" ] || problems+=("left behind: $(cd "$work" && find . | sort)")
    ! grep -q "^Output folder:" "$scratch/$name.out" || problems+=("printed the output folder")
  fi
  report_case "$name"
}

# wait_until SECONDS CONDITION...: true as soon as the command CONDITION succeeds, false when it still fails after
# SECONDS seconds (it is tried again every tenth of a second).
wait_until() {
  local limit=$1 tries=0
  shift
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -le $((limit * 10)) ] || return 1
    sleep 0.1
  done
}

# The live processes of a session, one pid a line (none: empty).
session_processes() { ps -e -o sid= -o pid= -o stat= | awk -v s="$1" '$1 == s && $3 !~ /^Z/ { print $2 }'; }
process_running() { # pid: alive and not a zombie
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state:0:1}" != "Z" ]
}
session_empty() { [ -z "$(session_processes "$1")" ]; }

# stop_case NAME SIGNAL TARGET STDERR READY [env VAR=VALUE...] -- ARGS...
# Starts the command from a fresh work folder in a session of its own, waits (at most 300 s) until the command
# READY (run in the work folder, "$run_pid" the command's pid) succeeds, then sends SIGNAL to the command alone
# (TARGET "pid") or to its process group as a terminal's Ctrl-C does (TARGET "group"). Expects exit status 1, the
# one closing line STDERR, the work folder as it was, no output folder printed and no process of the run left.
stop_case() {
  local name=$1 signal=$2 target=$3 stderr=$4 ready=$5
  shift 5
  local envs=()
  take_envs "$@"
  shift $((${#envs[@]} + 1))
  local work="$scratch/work-$name"
  mkdir -p "$work"
  local before
  before=$(cd "$work" && find . | sort)
  (cd "$work" && exec setsid env "${envs[@]}" "${cli_command[@]}" "$@" >"$scratch/$name.out" \
    2>"$scratch/$name.err") &
  run_pid=$!
  local problems=() got=""
  if ! (cd "$work" && wait_until 300 eval "$ready"); then
    problems+=("never ready ($ready)")
  elif [ "$(ps -o sid= -p "$run_pid" | tr -d ' ')" != "$run_pid" ]; then
    problems+=("the command has no session of its own")
  else
    if [ "$target" = group ]; then kill "-$signal" -- "-$run_pid"; else kill "-$signal" "$run_pid"; fi
    wait_until 300 eval '! process_running "$run_pid"' || problems+=("still running 300 s after $signal")
  fi
  wait_until 60 session_empty "$run_pid" ||
    problems+=("processes left: $(session_processes "$run_pid" | xargs -r ps -o args= -p | tr '\n' ';')")
  # Whatever is left is ended here, by its pid, so that a failed case does not hold the test.
  session_processes "$run_pid" | xargs -r kill -KILL 2>/dev/null
  kill -KILL "$run_pid" 2>/dev/null
  wait "$run_pid"
  got=$?
  [ "$got" -eq 1 ] || problems+=("exit status $got, expected 1")
  [ "$(cat "$scratch/$name.err")" = "$stderr" ] || problems+=("standard error: $(cat "$scratch/$name.err")")
  [ "$(cd "$work" && find . | sort)" = "$before" ] || problems+=("left behind: $(cd "$work" && find . | sort)")
  ! grep -q "^Output folder:" "$scratch/$name.out" || problems+=("printed the output folder")
  report_case "$name"
}

# Sourced by the command-line tests of the main program and of the main job. The caller sets `scratch` (a
# temporary folder), `failures` (0) and the array `cli_command` (the command and its first arguments).

# case NAME STATUS STDERR [env VAR=VALUE...] -- ARGS...
# Runs the command from a fresh work folder. STDERR: the expected standard error, exactly (one line, or "" for
# none). A case that fails must leave the work folder as it found it and print no output folder.
case_() {
  local name=$1 status=$2 stderr=$3
  shift 3
  local envs=()
  while [ "$1" != "--" ]; do
    envs+=("$1")
    shift
  done
  shift
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
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
  else
    echo "FAIL $name"
    printf '     %s\n' "${problems[@]}"
    failures=$((failures + 1))
  fi
}

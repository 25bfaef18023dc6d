#!/usr/bin/env bash
# Makes each system call that gcwindow makes after start-up fail, at each of
# its first three occurrences, on each input below, and checks that no run
# ends with status 0 and a wrong or missing result line, changes its input,
# crashes, hangs or writes to standard error. The calls are read from a trace
# of the same run without a fault, so the sweep follows the tool when it
# changes which calls it makes.
#
# By default each occurrence fails with EIO, EINTR and EAGAIN, the errors
# that a retry or a wait must tell apart, and with one of the eight others
# below, taken in turn, so that every error still meets several calls (about
# a third of the runs); --exhaustive fails each with all eleven.
#   fault_sweep.sh [--exhaustive] GCWINDOW [SCENARIO...]
#   fault_sweep.sh --list      the scenarios, one a line
# SCENARIO is the first field of a row of the table below; without one, every
# row runs. tests/CMakeLists.txt makes one test of each row, from --list.
set -euo pipefail
# SCENARIO|STANDARD INPUT|EXTRA FAULT|OPERANDS|PATH
# PATH is a line (an extended regular expression) that the trace of the run
# without a fault must hold, showing that the scenario's path ran.
scenarios=(
  "blocks|/dev/null||blocks.seq 1200000 out|^[0-9]+ +read\\([0-9]+, .* = 524288$"
  "threads|/dev/null||long.seq 34603008 out|^[0-9]+ +pread64\\("
  "padded|/dev/null||short.seq 10 out|^[0-9]+ +read\\([0-9]+, \"\", "
  "pipe|pipe||/dev/stdin 100 out|^[0-9]+ +splice\\([0-9]+, .* = [1-9]"
  "pipe_unspliced|pipe|splice:error=EINVAL|/dev/stdin 100 out|splice\\(.*\\(INJECTED\\)$"
  "output_is_input|/dev/null||same.seq 2 same.seq|stat[a-z0-9]*\\((AT_FDCWD, )?\"same.seq\""
  "directory|/dev/null||folder 5 out|^[0-9]+ +openat\\(AT_FDCWD, \"folder\", .* = [0-9]+$"
)
if [[ ${1:-} == --list ]]; then
  printf '%s\n' "${scenarios[@]%%|*}"
  exit 0
fi
exhaustive=false
[[ ${1:-} == --exhaustive ]] && { exhaustive=true; shift; }
gcwindow=$(realpath "$1")
shift
chosen=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

errors=(EIO EINTR EAGAIN ENOMEM ENOSPC EBADF ENOTCONN EACCES EFBIG EPIPE ESPIPE)
head -c 1500000 < <(yes ACGTTGCAACG | tr -d '\n') > blocks.seq
printf GCA > short.seq
head -c 34603008 < <(yes ACGTTGCAACG | tr -d '\n') > long.seq
cp short.seq same.seq
mkdir folder
mkdir pristine && cp blocks.seq short.seq same.seq long.seq pristine/
# Any change to a file's contents or size changes its ctime, which no program
# can set back: comparing inode, size and ctime finds a changed input without
# reading 34 MB after each run.
inputs=(blocks.seq short.seq same.seq long.seq)
signature() { stat -c '%n %i %s %z' "${inputs[@]}"; }
unchanged=$(signature)

for name in "${chosen[@]}"; do
  [[ " ${scenarios[*]%%|*} " == *" $name "* ]] || { echo "no scenario $name"; exit 1; }
done

runs=0 faults=0 turn=0
gcw() { # STANDARD_INPUT OPERANDS... ; strace's own options come in $trace
  local input=$1
  shift
  if [[ $input == pipe ]]; then
    # The writer may be cut off when the drain fails; only gcwindow's status counts.
    cat blocks.seq blocks.seq | timeout 20 strace -f -qq "${trace[@]}" "$gcwindow" "$@"
    return "${PIPESTATUS[1]}"
  else
    timeout 20 strace -f -qq "${trace[@]}" "$gcwindow" "$@" < "$input"
  fi
}
# Lines that may stand in a correct run's output beside the result line.
answer() { grep -v '^Error! Could not open the output file: ' "$1" || true; }

for scenario in "${scenarios[@]}"; do
  IFS='|' read -r name input extra operands path <<<"$scenario"
  ((${#chosen[@]} == 0)) || [[ " ${chosen[*]} " == *" $name "* ]] || continue
  read -ra operands <<<"$operands"
  extraInject=()
  [[ -n $extra ]] && extraInject=(-e "inject=$extra")

  trace=(-o log "${extraInject[@]}")
  gcw "$input" "${operands[@]}" > expected 2>/dev/null || true
  # Start-up ends where main first asks whether standard output is open.
  start=$(grep -n -m1 -E 'fcntl(64)?\(1, F_GETFD' log | cut -d: -f1 || true)
  [[ -n $start ]] || { echo "no end of start-up in the trace of $name"; exit 1; }
  grep -qE "$path" log || { echo "the trace of $name never shows its path: $path"; exit 1; }
  declare -A before=() after=()
  while read -r call; do before[$call]=$((${before[$call]:-0} + 1)); done \
    < <(head -n $((start - 1)) log | sed -E 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/')
  while read -r call; do after[$call]=$((${after[$call]:-0} + 1)); done \
    < <(tail -n +"$start" log | grep -E '^[0-9]+ +[a-z0-9_]+\(' | sed -E 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/')

  # In name order, so that a sampled sweep makes the same runs every time.
  for call in $(printf '%s\n' "${!after[@]}" | sort); do
    # Two calls the kernel never fails with an error: futex in a join, whose
    # failure the C library turns into an abort (and whether a trace holds one
    # is a race between threads), and brk, which refuses by returning the old
    # break, so that an injected error number is taken for an address.
    [[ $call == exit_group || $call == futex || $call == brk || ($call == splice && -n $extra) ]] && continue
    occurrences=$((after[$call] < 3 ? after[$call] : 3))
    for ((k = 1; k <= occurrences; k++)); do
      when=$((${before[$call]:-0} + k))
      if $exhaustive; then
        tried=("${errors[@]}")
      else
        tried=(EIO EINTR EAGAIN "${errors[3 + turn % 8]}")
        turn=$((turn + 1))
      fi
      for error in "${tried[@]}"; do
        fault="$call:error=$error:when=$when"
        trace=(-o /dev/null "${extraInject[@]}" -e "inject=$fault")
        status=0
        gcw "$input" "${operands[@]}" > out.txt 2> err.txt || status=$?
        runs=$((runs + 1))
        problem=""
        if ((status >= 124)); then
          problem="ended with status $status (crash or hang)"
        elif [[ -s err.txt ]]; then
          problem="wrote to standard error: $(head -c 200 err.txt)"
        elif ((status == 0)) && [[ "$(answer out.txt)" != "$(answer expected)" ]]; then
          problem="status 0 with $(tr '\n' '/' < out.txt) where the answer is $(tr '\n' '/' < expected)"
        fi
        if [[ $(signature) != "$unchanged" ]]; then
          for file in "${inputs[@]}"; do
            cmp -s "$file" "pristine/$file" || { problem="changed $file"; cp "pristine/$file" .; }
          done
          [[ -n $problem ]] || problem="changed the status of an input: $(diff <(echo "$unchanged") <(signature) | tr '\n' ' ')"
          unchanged=$(signature)
        fi
        if [[ -n $problem ]]; then
          echo "FAIL $name, $fault: $problem"
          faults=$((faults + 1))
        fi
      done
    done
  done
  unset before after
done

$exhaustive && how="every error" || how="a sample of the errors"
echo "$runs runs with one system call failing ($how): $((runs - faults)) passed, $faults failed"
((runs > 0 && faults == 0))

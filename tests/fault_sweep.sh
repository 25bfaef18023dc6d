#!/usr/bin/env bash
# Makes every system call that gcwindow makes after start-up fail, at each of
# its first three occurrences, with each of eleven errors, on each input below,
# and checks that no run ends with status 0 and a wrong or missing result
# line, changes its input, crashes, hangs or writes to standard error.
#   fault_sweep.sh GCWINDOW
set -euo pipefail
gcwindow=$(realpath "$1")
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

# NAME|STANDARD INPUT|EXTRA FAULT|OPERANDS
scenarios=(
  "several blocks|/dev/null||blocks.seq 1200000 out"
  "several threads|/dev/null||long.seq 34603008 out"
  "padded window|/dev/null||short.seq 10 out"
  "pipe, spliced|pipe||/dev/stdin 100 out"
  "pipe, splice refused|pipe|splice:error=EINVAL|/dev/stdin 100 out"
  "output is the input|/dev/null||same.seq 2 same.seq"
  "directory input|/dev/null||folder 5 out"
)

runs=0 faults=0
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
  IFS='|' read -r name input extra operands <<<"$scenario"
  read -ra operands <<<"$operands"
  extraInject=()
  [[ -n $extra ]] && extraInject=(-e "inject=$extra")

  trace=(-o log "${extraInject[@]}")
  gcw "$input" "${operands[@]}" > expected 2>/dev/null || true
  # Start-up ends where main first asks whether standard output is open.
  start=$(grep -n -m1 -E 'fcntl(64)?\(1, F_GETFD' log | cut -d: -f1 || true)
  [[ -n $start ]] || { echo "no end of start-up in the trace of $name"; exit 1; }
  declare -A before=() after=()
  while read -r call; do before[$call]=$((${before[$call]:-0} + 1)); done \
    < <(head -n $((start - 1)) log | sed -E 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/')
  while read -r call; do after[$call]=$((${after[$call]:-0} + 1)); done \
    < <(tail -n +"$start" log | grep -E '^[0-9]+ +[a-z0-9_]+\(' | sed -E 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/')

  for call in "${!after[@]}"; do
    # Two calls the kernel never fails with an error: futex in a join, whose
    # failure the C library turns into an abort (and whether a trace holds one
    # is a race between threads), and brk, which refuses by returning the old
    # break, so that an injected error number is taken for an address.
    [[ $call == exit_group || $call == futex || $call == brk || ($call == splice && -n $extra) ]] && continue
    occurrences=$((after[$call] < 3 ? after[$call] : 3))
    for ((k = 1; k <= occurrences; k++)); do
      when=$((${before[$call]:-0} + k))
      for error in "${errors[@]}"; do
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
        for file in blocks.seq short.seq same.seq long.seq; do
          cmp -s "$file" "pristine/$file" || { problem="changed $file"; cp "pristine/$file" .; }
        done
        if [[ -n $problem ]]; then
          echo "FAIL $name, $fault: $problem"
          faults=$((faults + 1))
        fi
      done
    done
  done
  unset before after
done

echo "$runs runs with one system call failing: $((runs - faults)) passed, $faults failed"
((faults == 0))

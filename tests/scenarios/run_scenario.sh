#!/usr/bin/env bash
# Runs one scenario: run_scenario.sh VELMAR SCENARIO.txt RUN_DIR
#
# The scenario is a console script; the run happens in RUN_DIR (made anew) on a
# fresh device root RUN_DIR/device, headless, with the event log in
# RUN_DIR/events.log and standard error in RUN_DIR/stderr.log. Lines of the
# form "#! NAME: VALUE" (comments to the console) say what to check:
#   #! args: OPTIONS          more host options (for example --screen 1024x600)
#   #! exit: N                the run's exit status (default 0)
#   #! stderr: TEXT           standard error contains TEXT; without any, it must
#                             hold no "console: " message
#   #! events: TEXT           the event log contains TEXT
#   #! events-match: REGEX    the event log has a line matching REGEX (grep -E)
#   #! absent: TEXT           no line of the event log contains TEXT
#   #! order: TEXT            the event log has a line containing TEXT after
#                             the line found for the previous "order" check
#                             (the first one: anywhere)
#   #! same: FILE1 FILE2      the two files (in RUN_DIR) are equal byte for byte
#   #! differ: FILE1 FILE2    the two files exist and differ
#   #! png: FILE W H          FILE (in RUN_DIR) is a PNG of W x H pixels
#   #! second: N              while the run is up, a second Velmar on the same
#                             device exits with N and shows no window; the
#                             script then goes on. By default the second
#                             starts before the script; with a line
#                             "#! second-here" the lines before it run first,
#                             and the second starts once the event log holds
#                             the text of "#! second-after: TEXT" (default:
#                             the shell's window came to the foreground)
set -uo pipefail

velmar=$1
scenario=$2
run_dir=$3

# shellcheck source=../support/run_dir.sh
source "$(dirname "$0")/../support/run_dir.sh"
start_run "$run_dir"

directives() { sed -n "s/^#! $1: *//p" "$scenario"; }

args=$(directives args | tr '\n' ' ')
expected_exit=$(directives exit | tail -1)
expected_exit=${expected_exit:-0}
second=$(directives second | tail -1)
# shellcheck disable=SC2086
run() { timeout 120 "$velmar" --headless --device device $args "$@"; }

if [ -z "$second" ]; then
  run --script "$scenario" >events.log 2>stderr.log
  status=$?
else
  # The first run reads its script from a pipe, so that it is still running
  # when the second starts.
  mkfifo input.fifo
  run --script - <input.fifo >events.log 2>stderr.log &
  first=$!
  exec 3>input.fifo
  second_after=$(directives second-after | tail -1)
  second_after=${second_after:-'"title":"APS","action":"foreground"'}
  if grep -qx '#! second-here' "$scenario"; then
    sed '/^#! second-here$/,$d' "$scenario" >&3
    rest=$(sed -n '/^#! second-here$/,$p' "$scenario")
  else
    rest=$(cat "$scenario")
  fi
  for _ in $(seq 300); do
    grep -qF -- "$second_after" events.log && break
    sleep 0.1
  done
  grep -qF -- "$second_after" events.log || fail "the first run's events lack: $second_after"
  : >empty.txt
  timeout 60 "$velmar" --headless --device device --script empty.txt >second.log 2>second.err
  second_status=$?
  [ "$second_status" = "$second" ] || fail "the second run exited $second_status, expected $second"
  grep -qF '"ev":"window"' second.log && fail "the second run changed a window: $(grep -F '"ev":"window"' second.log)"
  kill -0 "$first" 2>/dev/null || fail "the first run ended when the second started"
  printf '%s\n' "$rest" >&3
  exec 3>&-
  wait "$first"
  status=$?
fi

[ "$status" = "$expected_exit" ] || fail "exit status $status, expected $expected_exit"

stderr_checks=$(directives stderr)
if [ -n "$stderr_checks" ]; then
  while IFS= read -r text; do
    grep -qF -- "$text" stderr.log || fail "standard error lacks: $text"
  done <<<"$stderr_checks"
elif grep -q '^console: ' stderr.log; then
  fail "console messages on standard error"
fi

while IFS= read -r text; do
  [ -z "$text" ] && continue
  grep -qF -- "$text" events.log || fail "the event log lacks: $text"
done <<<"$(directives events)"

while IFS= read -r regex; do
  [ -z "$regex" ] && continue
  grep -qE -- "$regex" events.log || fail "no event line matches: $regex"
done <<<"$(directives events-match)"

while IFS= read -r text; do
  [ -z "$text" ] && continue
  grep -qF -- "$text" events.log && fail "the event log has: $(grep -F -- "$text" events.log | head -1)"
done <<<"$(directives absent)"

# Each "order" text is looked for after the line where the previous one was found.
after=0
while IFS= read -r text; do
  [ -z "$text" ] && continue
  found=$(tail -n +$((after + 1)) events.log | grep -nF -- "$text" | head -1 | cut -d: -f1)
  if [ -z "$found" ]; then
    fail "the event log lacks, after line $after: $text"
    break
  fi
  after=$((after + found))
done <<<"$(directives order)"

while read -r first second; do
  [ -z "$first" ] && continue
  cmp -s "$first" "$second" || fail "$first and $second differ"
done <<<"$(directives same)"

while read -r first second; do
  [ -z "$first" ] && continue
  if [ ! -f "$first" ] || [ ! -f "$second" ]; then
    fail "no picture $first or $second"
  elif cmp -s "$first" "$second"; then
    fail "$first and $second are the same"
  fi
done <<<"$(directives differ)"

# A PNG begins with its 8-byte signature and the IHDR chunk, whose first two
# fields are the width and height, big-endian, at bytes 16 and 20.
while read -r file width height; do
  [ -z "$file" ] && continue
  if [ ! -f "$file" ]; then
    fail "no picture $file"
    continue
  fi
  signature=$(od -An -tx1 -N8 "$file" | tr -d ' \n')
  [ "$signature" = "89504e470d0a1a0a" ] || fail "$file is not a PNG (begins $signature)"
  read -r w1 w2 w3 w4 h1 h2 h3 h4 <<<"$(od -An -tu1 -j16 -N8 "$file")"
  got_width=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
  got_height=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
  [ "$got_width x $got_height" = "$width x $height" ] ||
    fail "$file is ${got_width}x${got_height}, expected ${width}x${height}"
done <<<"$(directives png)"

if [ "$failures" -gt 0 ]; then
  echo "--- standard error"; tail -n 20 stderr.log
  echo "--- event log"; tail -n 20 events.log
  exit 1
fi
echo "scenario $(basename "$scenario"): ok"

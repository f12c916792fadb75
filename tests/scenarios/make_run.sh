#!/usr/bin/env bash
# `make run` on a machine without a display: make_run.sh BUILD_DIR RUN_DIR
#
# scripts/run (what `make run` calls) runs twice on a fresh device root, once
# ending with `quit` (after `help` and a screenshot of the user's own) and
# once at the end of its input. Each run prints the banner, writes the tour's
# screenshots into the device root's screenshots/ and exits with 0.
set -uo pipefail

build=$1
run_dir=$2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/run_dir.sh
source "$source_dir/tests/support/run_dir.sh"
start_run "$run_dir"

tour_shots=$(grep -c '^screenshot ' "$source_dir/scripts/tour.txt")
[ "$tour_shots" -ge 12 ] || fail "the tour takes only $tour_shots screenshots"

# One run: the input, the name of the run; the checks common to both.
check_run() {
  local input=$1 name=$2
  rm -rf device
  printf '%b' "$input" | env -u DISPLAY timeout 300 "$source_dir/scripts/run" "$build" --device device \
    >"$name.out" 2>"$name.err"
  local status=$?
  [ "$status" = 0 ] || fail "$name: exit status $status"
  for text in "device root:  $run_dir/device" "screen:       headless" "help" "quit" \
              "screenshots:  \`screenshot NAME.png\` writes into $run_dir/device/screenshots/" \
              "tour: $tour_shots screenshots in $run_dir/device/screenshots/"; do
    grep -qF -- "$text" "$name.err" || fail "$name: standard error lacks: $text"
  done
  grep -q '^console: ' "$name.err" && fail "$name: console messages: $(grep '^console: ' "$name.err" | head -3)"
  local pngs
  pngs=$(find device/screenshots -maxdepth 1 -name '[0-9][0-9]-*.png' | wc -l)
  [ "$pngs" = "$tour_shots" ] || fail "$name: $pngs tour screenshots, expected $tour_shots"
  for file in device/screenshots/[0-9][0-9]-*.png; do
    [ "$(od -An -tx1 -N8 "$file" | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$name: $file is not a PNG"
  done
  # Every page a driver can reach was shown.
  for page in 0 1 2 3 4 6 7 8 10 11; do
    grep -qF "\"ev\":\"page\",\"id\":$page}" device/events.log || fail "$name: the tour never showed page $page"
  done
  grep -qF '"ev":"exit","code":0' device/events.log || fail "$name: no clean exit in the event log"
}

check_run 'help\nscreenshot mine.png\nquit\n' quit
grep -qF 'tap X Y' quit.err || fail "quit: help lists no tap command"
grep -qF 'phone start' quit.err || fail "quit: help lists no phone command"
[ -f device/screenshots/mine.png ] || fail "quit: the user's screenshot is not in device/screenshots/"

check_run '' end-of-input

if [ "$failures" -gt 0 ]; then
  echo "--- standard error of the last run"; tail -n 20 end-of-input.err
  exit 1
fi
echo "make run (headless): ok"

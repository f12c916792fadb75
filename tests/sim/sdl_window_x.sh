#!/usr/bin/env bash
# The SDL window in a real X server: sdl_window_x.sh VELMAR X_WINDOW_PIXELS RUN_DIR
#
# Velmar runs headless through a few states (the desktop, a tile held down,
# the tools page) and takes a screenshot of each; then it runs again under
# Xvfb with the SDL backend, driven through the same console commands, and
# the window's pixels, read back from the X server, must equal the headless
# screenshot of each state. Exit 77 (skipped) where no X server can run.
set -uo pipefail

velmar=$1
pixels=$2
run_dir=$3
command -v Xvfb >/dev/null || { echo "skipped: no Xvfb on this machine (the xvfb package)"; exit 77; }
# shellcheck source=../support/run_dir.sh
source "$(dirname "$0")/../support/run_dir.sh"
start_run "$run_dir"
unset SDL_VIDEODRIVER

# The states: console lines that reach each, and its name.
states=(
  'expect "title":"APS","action":"foreground"|desktop'
  'down 205 124|navigation-held'
  'move 205 470\nup 205 470\ntap 690 376\nexpect-page 1|tools'
)

{
  for state in "${states[@]}"; do printf '%b\nscreenshot headless-%s.png\n' "${state%|*}" "${state#*|}"; done
  echo quit
} >headless.txt
env -u DISPLAY timeout 120 "$velmar" --headless --device device-headless --script headless.txt \
  >headless.events 2>headless.err || fail "the headless run failed: $(tail -3 headless.err)"

# Xvfb picks a free display and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display.txt >xvfb.log 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
for _ in $(seq 100); do
  [ -s display.txt ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s display.txt ]; then
  echo "skipped: Xvfb does not start here: $(tail -2 xvfb.log)"
  exit 77
fi
export DISPLAY=":$(head -1 display.txt)"

# The windowed run reads its commands from a pipe, so that the window can be
# read between them.
mkfifo input.fifo
timeout 120 "$velmar" --device device-sdl --events sdl.events --script - <input.fifo >/dev/null 2>sdl.err &
shell=$!
exec 4>input.fifo
for state in "${states[@]}"; do
  name=${state#*|}
  # The echo comes once the screenshot is written.
  printf '%b\nscreenshot sdl-%s.png\necho taken: %s\n' "${state%|*}" "$name" "$name" >&4
  for _ in $(seq 100); do
    grep -qxF "taken: $name" sdl.err && break
    sleep 0.1
  done
  grep -qxF "taken: $name" sdl.err || { fail "$name: the windowed run took no screenshot: $(tail -3 sdl.err)"; break; }
  cmp -s "sdl-$name.png" "headless-$name.png" ||
    fail "$name: the framebuffer of the windowed run differs from the headless one"
  # The window shows the framebuffer 1:1: its pixels are the screenshot's.
  if ! result=$("$pixels" Velmar "headless-$name.png" "x-$name.png" 5000); then
    fail "$name: the window's pixels differ from the headless screenshot: $result"
  else
    echo "$name: $result"
  fi
done
echo quit >&4
exec 4>&-
wait "$shell" || fail "the windowed run exited with $?: $(tail -3 sdl.err)"
grep -qF '"ev":"exit","code":0' sdl.events || fail "the windowed run did not end cleanly"

if [ "$failures" -gt 0 ]; then
  echo "--- standard error of the windowed run"; tail -n 10 sdl.err
  exit 1
fi
echo "the SDL window under Xvfb shows the headless pixels: ok"

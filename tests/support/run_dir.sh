# Sourced by the test scripts that run programs in a folder of their own:
# start_run DIR makes DIR anew and enters it; fail TEXT prints a failure and
# counts it in $failures.
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
start_run() {
  rm -rf "$1"
  mkdir -p "$1"
  cd "$1" || exit 1
}

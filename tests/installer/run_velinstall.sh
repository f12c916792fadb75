#!/usr/bin/env bash
# velinstall on a fresh simulated device, with a package made by velpack:
#   run_velinstall.sh VELINSTALL VELPACK RUN_DIR
# A first run without a script fails with its two boxes; then the package
# (files with set times, a nested folder, a registry file, a file named
# notes.Reg) and the script go onto the SD card, and a second run installs
# them: its boxes, the files and their times, the registry and the deleted
# registry file are checked. A third run as \sdmmc\tools\setup.exe finds
# its own script and titles its box "setup". A fourth run, over the files of
# the second, is given a package cut inside a file's contents: it fails and
# the installed copies stay as they were. --help lists velinstall's options.
set -uo pipefail

velinstall=$1
velpack=$2
run_dir=$3

rm -rf "$run_dir"
mkdir -p "$run_dir"
cd "$run_dir" || exit 1

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
has() { grep -qF -- "$2" "$1" || fail "$1 lacks: $2"; }

# 1. A fresh device, no script.
timeout 60 "$velinstall" --device device --events first.log 2>first.err
status=$?
[ "$status" = 0 ] || fail "first run exited $status"
has first.log '"ev":"start","program":"velinstall"'
has first.log '"ev":"messagebox","text":"Could not open file","title":"Tips"'
has first.log '"ev":"messagebox","text":"Installation failed!","title":"velinstall"'
has first.log '"ev":"exit","code":0'
# The platform's last error for the empty package path, on the debug output.
has first.err 'Could not open file (error 3)'

# 2. The package made by velpack.
mkdir -p source/data/empty
printf 'alpha\r\n' >source/readme.txt
printf '\x00\x01\x02\xff' >source/data/table.bin
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Demo]\r\n"Port"=dword:0000000A\r\n"Home"="\\\\residentflash2\\\\App"\r\n' >source/data/setup.reg
printf 'kept as it is\r\n' >source/notes.Reg
touch -d '2021-03-04 05:06:07 UTC' source/readme.txt
touch -d '2019-01-02 03:04:05 UTC' source/data/table.bin
"$velpack" build source -o app.pkg || fail "velpack build failed"
mkdir -p device/sdmmc
cp app.pkg device/sdmmc/app.pkg
printf '[config]\r\ndirectory=\\residentflash2\\App\\v1\r\nname=\\sdmmc\\app.pkg\r\n' >device/sdmmc/velinstall.ini

timeout 60 "$velinstall" --device device --events second.log 2>second.err
status=$?
[ "$status" = 0 ] || fail "second run exited $status"
has second.log '"ev":"messagebox","text":"Installation successful!","title":"velinstall"'
grep -qF 'Installation failed!' second.log && fail "the second run also failed"

app=device/residentflash2/App/v1
cmp -s source/readme.txt "$app/readme.txt" || fail "readme.txt differs"
cmp -s source/data/table.bin "$app/data/table.bin" || fail "table.bin differs"
cmp -s source/notes.Reg "$app/notes.Reg" || fail "notes.Reg differs or is missing"
[ -d "$app/data/empty" ] || fail "no folder data/empty"
[ -e "$app/data/setup.reg" ] && fail "setup.reg was not deleted"
[ "$(stat -c %Y "$app/readme.txt")" = "$(date -d '2021-03-04 05:06:07 UTC' +%s)" ] ||
  fail "readme.txt has the time $(stat -c %y "$app/readme.txt")"
[ "$(stat -c %Y "$app/data/table.bin")" = "$(date -d '2019-01-02 03:04:05 UTC' +%s)" ] ||
  fail "table.bin has the time $(stat -c %y "$app/data/table.bin")"
# The platform's registry store, in the device root.
has device/registry.reg '[HKEY_LOCAL_MACHINE\Software\Demo]'
has device/registry.reg '"Port"=dword:0000000a'
has device/registry.reg '"Home"=sz:"\\residentflash2\\App"'

# 3. Another name: its own script and title.
mkdir -p device/sdmmc/tools
printf '[config]\r\ndirectory=\\residentflash2\\Tools\r\nname=\\sdmmc\\app.pkg\r\n' >device/sdmmc/tools/setup.ini
timeout 60 "$velinstall" --device device --as '\sdmmc\tools\setup.exe' --events third.log 2>third.err
has third.log '"ev":"messagebox","text":"Installation successful!","title":"setup"'
[ -f device/residentflash2/Tools/readme.txt ] || fail "the third run installed nothing"

# 4. A cut package over an installed copy.
mkdir -p cut/data
head -c 200000 /dev/urandom >cut/data/firmware.bin
printf 'after\r\n' >cut/z_after.txt
"$velpack" build cut -o cut.pkg || fail "velpack build of cut/ failed"
printf 'different\n' >"$app/data/firmware.bin" && cp "$app/data/firmware.bin" firmware.before
head -c 150000 cut.pkg >device/sdmmc/app.pkg
timeout 60 "$velinstall" --device device --events fourth.log 2>fourth.err
has fourth.log '"ev":"messagebox","text":"Installation failed!","title":"velinstall"'
grep -qF 'Installation successful!' fourth.log && fail "the cut package was reported as installed"
cmp -s firmware.before "$app/data/firmware.bin" || fail "the installed firmware.bin was changed"
[ -e "$app/z_after.txt" ] && fail "z_after.txt was installed from a cut package"
find device -name '*.velinstall-part' | grep -q . && fail "a temporary file was left behind"
"$velpack" list device/sdmmc/app.pkg >cut.list 2>&1 && fail "velpack list took the cut package"
has cut.list 'damaged package: contents of data\firmware.bin cut short'

# --help: velinstall's own options only.
"$velinstall" --help >help.out 2>&1 || fail "--help exited non-zero"
for option in --device --events --as; do has help.out "$option"; done
grep -qE -- '--(gps|screen|script|audio-out|speed|headless)' help.out && fail "--help lists the shell's options"
"$velinstall" --gps /dev/null >gps.out 2>&1
[ $? = 2 ] || fail "an option of the shell was taken"

if [ "$failures" -gt 0 ]; then
  for log in first second third fourth; do
    echo "--- $log.log"; cat "$log.log" 2>/dev/null
    echo "--- $log.err"; cat "$log.err" 2>/dev/null
  done
  exit 1
fi
echo "velinstall scenario: ok"

#!/usr/bin/env bash
# The Windows installer under Wine: "msiexec /i /qn" installs Sentrel for
# the user (no administrator) into the user's programs folder with its
# language files and a Start menu entry; the installed program lists the
# hosts; "msiexec /x /qn" removes the program and leaves the user's data.
# With the service option the service comes and goes with the program.
#
# Usage: windows_msi_e2e.sh SENTREL_MSI WINE_LOADER. Exit 77 = skipped.
set -euo pipefail

msi=$1
wine=$2
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] ||
  { echo "skipped: no prepared WINEPREFIX"; exit 77; }
export WINEDEBUG=-all
unset DISPLAY

work=$(mktemp -d /tmp/sentrel-wine-msi.XXXXXX)
package=$(winepath -w "$msi")
cleanup() {
  timeout 120 "$wine" msiexec /x "$package" /qn >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in "$work"/*; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
  exit 1
}

user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
program=$user/AppData/Local/Programs/Sentrel
timeout 60 "$wine" reg delete 'HKCU\Software\Sentrel' /f >/dev/null 2>&1 || true
rm -rf "$user/AppData/Roaming/Sentrel"

timeout 120 "$wine" msiexec /i "$package" /qn >"$work/install" 2>&1 || fail "msiexec /i"
[ -f "$program/sentrel.exe" ] || fail "no sentrel.exe in $program"
for lng in English German Russian; do
  [ -f "$program/$lng.lng" ] || fail "no $lng.lng beside the program"
done
find "$user" -name 'Sentrel.lnk' -path '*Start Menu*' | grep -q . || fail "no Start menu entry"

sentrel() { timeout 60 "$wine" "$program/sentrel.exe" "$@"; }
sentrel --add 127.0.0.1 --name installed >"$work/add" 2>&1 || fail "the installed program: --add"
sentrel --list >"$work/list" 2>&1 || fail "the installed program: --list"
grep -q 'installed' "$work/list" || fail "--list of the installed program does not show the host"

timeout 120 "$wine" msiexec /x "$package" /qn >"$work/uninstall" 2>&1 || fail "msiexec /x"
[ ! -e "$program/sentrel.exe" ] || fail "the program is still there after the uninstall"
find "$user" -name 'Sentrel.lnk' -path '*Start Menu*' | grep -q . && fail "the Start menu entry stayed"
grep -q 'installed' "$user/AppData/Roaming/Sentrel/sentrel.xml" || fail "the uninstall took the host list"

# The service as the installer's option (Wine runs it as an administrator).
timeout 120 "$wine" msiexec /i "$package" ADDLOCAL=Main,Service /qn >"$work/with-service" 2>&1 ||
  fail "msiexec /i with the service"
timeout 60 "$wine" sc query Sentrel >"$work/query" 2>&1 || fail "the installer made no service"
timeout 120 "$wine" msiexec /x "$package" /qn >"$work/uninstall-service" 2>&1 || fail "msiexec /x"
timeout 60 "$wine" sc query Sentrel >"$work/query" 2>&1 && fail "the uninstall left the service"
echo "passed: installed per user with a Start menu entry, ran, uninstalled keeping the data;" \
  "the service option installed and removed the service"

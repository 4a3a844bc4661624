#!/usr/bin/env bash
# Installs SkivAddonSetup.exe silently into the Wine prefix, runs the
# installed skivaddon-cli.exe --help, uninstalls silently, and checks that
# nothing is left: files, Start-menu folder, Uninstall registry key.
set -euo pipefail
setup=${1:?usage: installer_test.sh SkivAddonSetup.exe}
here=$(cd "$(dirname "$0")" && pwd)
run() { "$here/wine-run" "$@"; }
: "${SKIV_WINEPREFIX:?}"

fail() { echo "FAIL: $*" >&2; exit 1; }

# A Korean folder name. No space: NSIS reads /D= from the raw command line
# and only unquoted, and Wine quotes an argument that holds a space.
target_win='C:\SkivTest\Kelbo애드온'
target="$SKIV_WINEPREFIX/drive_c/SkivTest/Kelbo애드온"
menu="$SKIV_WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelbo Skiv Addon"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelboSkivAddon'
rm -rf "$SKIV_WINEPREFIX/drive_c/SkivTest"

# /D= must come last.
run "$setup" /S "/D=$target_win"
[[ -f "$target/skivaddon-cli.exe" ]] || fail "skivaddon-cli.exe not installed in $target"
[[ -f "$target/Uninstall.exe" ]] || fail "no uninstaller"
ls "$menu"/*.lnk >/dev/null 2>&1 || fail "no Start-menu entry in $menu"
reg=$(run reg query "$key" /v UninstallString /reg:64 2>&1) || fail "Uninstall key missing: $reg"
[[ "$reg" == *Uninstall.exe* ]] || fail "UninstallString: $reg"

help=$(run "$target_win\\skivaddon-cli.exe" --help 2>&1) || fail "installed --help failed: $help"
[[ "$help" == *"skivaddon-cli pack GAMEFOLDER ARCHIVE"* ]] || fail "unexpected --help: $help"

# The uninstaller copies itself away and returns at once; what it removes
# is awaited.
run "$target_win\\Uninstall.exe" /S
for _ in $(seq 1 120); do
  [[ -e "$target" || -e "$menu" ]] || break
  sleep 0.5
done
[[ ! -e "$target" ]] || fail "left behind: $(find "$target")"
[[ ! -e "$menu" ]] || fail "Start-menu folder left behind"
if run reg query "$key" /reg:64 >/dev/null 2>&1; then fail "Uninstall key left behind"; fi
rmdir "$SKIV_WINEPREFIX/drive_c/SkivTest"
echo "installer: install, --help, uninstall: ok"

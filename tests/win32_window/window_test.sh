#!/usr/bin/env bash
# The Win32 window under Wine and Xvfb, driven through its test script
# (skivaddon.exe --test-script): the view modes, the option pairs, the
# boxes raised from the GUI thread and from a worker, closing, and the
# scale-2 skin at 192 DPI. Each run gets a private Wine prefix.
#
#   window_test.sh SKIVADDON_EXE [SCREENSHOT_DIR]
# With SCREENSHOT_DIR the window's three view modes are written there as
# PNGs (docs/screenshots/win32-*.png come from here): logged out, then
# logged in and after a save against the service; the boxes, the folder
# chooser and the versions box too.
#
# Then, when the Linux service is built (SKIV_SERVICE_BIN, default
# build/server/skivaddon-service), the window logs in and saves against it
# over HTTPS on loopback through Wine's WinINet, the service's private CA
# trusted the Windows way: in the prefix's root certificate store; then
# saves again and installs the older version from the versions box.
set -euo pipefail
exe=$(realpath "$1")
shots=${2:+$(realpath -m "$2")}
for tool in wine Xvfb python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed"
    exit 0
  fi
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cleanup() {
  [[ -n ${service_pid:-} ]] && kill "$service_pid" 2>/dev/null
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# One X server for the whole test; -displayfd picks a free display itself
# (no race with other X servers starting at the same time).
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Nothing listens here: a login that got past the window's checks fails
# fast instead of reaching a real service.
export SKIVADDON_SERVICE_URL=https://127.0.0.1:9
failures=0

# run NAME SCRIPT: the window with SCRIPT (lines on stdin), transcript in
# $work/NAME.txt.
run() {
  local name=$1
  cat >"$work/$name.script"
  timeout 180 wine "$exe" --test-script "$(winepath -w "$work/$name.script")" \
    --transcript "$(winepath -w "$work/$name.txt")" >"$work/$name.log" 2>&1 || true
  if [[ ! -s "$work/$name.txt" ]]; then
    echo "FAIL $name: no transcript"; cat "$work/$name.log"; failures=$((failures + 1))
  fi
}

# expect NAME LINE_NO FRAGMENT...: line LINE_NO of the transcript holds
# every fragment.
expect() {
  local name=$1 n=$2 line
  shift 2
  line=$(sed -n "${n}p" "$work/$name.txt")
  for fragment in "$@"; do
    if [[ "$line" != *"$fragment"* ]]; then
      echo "FAIL $name line $n: expected '$fragment' in: $line"
      failures=$((failures + 1))
      return
    fi
  done
}

wine wineboot -i >/dev/null 2>&1 || true

shot() { [[ -n "$shots" ]] && echo "screenshot $(winepath -w "$work/$1.bmp")" || true; }
peek() { [[ -n "$shots" ]] && echo "peek $(winepath -w "$work/$1.bmp")" || true; }

run views <<SCRIPT
type idEdit skivfan
state
$(shot win32-view-0-logged-out)
key enter
key escape
state
answer ok
key enter
click scopeWithCacheFonts
click rollBackDeleteOnly
click rollBackDeleteOnly
state
click saveButton
member 0 0
mode 1
state
member 1 14 2024-05-01 21:30
mode 2
progress 60
state
answer real
message 작업자 스레드의 메시지
folder real
$(peek win32-folder-chooser)
choose c:/WINDOWS/system32/
click loginButton
click registerLink
answer no
click closeButton
state
answer real
$(peek win32-question-box)
click closeButton
SCRIPT
expect views 1 "mode=0 " "checked=scopeBasic,rollBackRestore " "focus=idEdit " "loginButton" \
  "registerLink" 'version="- for WOW | ver 1.0.1"'
# Enter in the ID field moves on; Escape does nothing; Enter in the
# password field logs in (and the controller finds the password missing).
expect views 2 "mode=0 " "focus=passwordEdit "
expect views 3 'box message "Kelbo Skiv Addon" "ID와 패스워드를 입력해주세요" -> ok'
expect views 4 "checked=scopeWithCacheFonts,rollBackRestore "
expect views 5 'box message "Kelbo Skiv Addon" "먼저 로그인을 해주세요" -> unanswered'
expect views 6 "mode=1 " 'noData="회원님의 셋팅 정보가 없습니다."' 'memberId="skivfan"' \
  'memberIdLine="님의 셋팅 정보"'
expect views 7 "mode=2 " "progress=60 " 'sizeValue="14MB"' 'dateValue="2024-05-01 21:30"' \
  'dateLabel="최종 저장 날짜 : "'
# The real box and the real chooser, closed with their default buttons;
# the chooser opens at its folder matched ignoring case and returns the
# names the file system gave.
expect views 8 'box message "Kelbo Skiv Addon" "작업자 스레드의 메시지" -> real'
expect views 9 'shown "Kelbo Skiv Addon" ""'
expect views 10 'folder "c:/WINDOWS/system32/" -> real'
expect views 11 'shown "폴더 선택" "C:\windows\system32\"'
expect views 12 'chose C:\windows\system32\'
# In the member panel the login button and the link are out of reach.
expect views 13 "error click loginButton"
expect views 14 "error click registerLink"
expect views 15 'box yesno "Kelbo Skiv Addon 종료" "Kelbo Skiv Addon을 종료 하시겠습니까?" -> no'
expect views 16 "mode=2 "
expect views 17 'box yesno "Kelbo Skiv Addon 종료" "Kelbo Skiv Addon을 종료 하시겠습니까?" -> real'
expect views 18 'shown "Kelbo Skiv Addon 종료" ""'
expect views 19 "end"
# In the member panel the login fields are out of sight; so is the
# versions link without a service that keeps versions.
for n in 6 7; do
  if sed -n "${n}p" "$work/views.txt" | grep -q 'shown=[^ ]*\(loginButton\|idEdit\|versionsLink\)'; then
    echo "FAIL views line $n: a login control or the versions link is in sight"
    failures=$((failures + 1))
  fi
done

# A high-DPI screen: per-monitor awareness reports 192 DPI, the scale-2 skin.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
wineserver -w
run dpi <<SCRIPT
state
SCRIPT
expect dpi 1 "dpi=192 skin=2 "

# ---- against the real service ----
service=${SKIV_SERVICE_BIN:-$here/../../build/server/skivaddon-service}
if [[ ! -x "$service" ]] || ! command -v openssl >/dev/null; then
  echo "SKIPPED the login and save against the service: no $service (or no openssl)"
else
  quick=(--hash-memory-kib 8192 --hash-passes 1)
  mkdir -p "$work/data"
  # Wine's WinINet matches a certificate's DNS names only, not its IP
  # addresses (Windows matches both): the service is reached as localhost,
  # and names itself so in the addresses its login reply hands out.
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  url=https://localhost:$port
  "$service" --data "$work/data" --listen "127.0.0.1:$port" --public-url "$url" "${quick[@]}" \
    >"$work/service.out" 2>"$work/service.log" &
  service_pid=$!
  for _ in $(seq 300); do
    grep -q "listening on" "$work/service.out" 2>/dev/null && break
    sleep 0.1
  done
  echo 'password1' | "$service" --data "$work/data" "${quick[@]}" member add skivfan >/dev/null
  # The CA as Windows keeps a trusted root: a certificate property blob
  # (property 32, the encoded certificate) under its SHA-1 thumbprint.
  ca="$work/data/tls/ca.pem"
  thumb=$(openssl x509 -in "$ca" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
  der=$(openssl x509 -in "$ca" -outform der | od -An -v -tx1 | tr -d ' \n')
  blob=$(python3 -c "import struct,sys; d=bytes.fromhex(sys.argv[1]); print((struct.pack('<III',32,1,len(d))+d).hex())" "$der")
  wine reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" \
    /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1
  wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
  wineserver -w
  # A game folder the chooser answers with (the fresh prefix names none).
  game="$work/prefix/drive_c/Games/WoW"
  mkdir -p "$game/Interface/AddOns/Skiv" "$game/WTF/Account/SKIVFAN/서버/캐릭터/SavedVariables"
  touch "$game/Launcher.exe"
  echo '-- 한글 주석' >"$game/Interface/AddOns/Skiv/Skiv.lua"
  echo 'SET locale "koKR"' >"$game/WTF/Config.wtf"
  echo 'Skiv = {}' >"$game/WTF/Account/SKIVFAN/서버/캐릭터/SavedVariables/Skiv.lua"
  SKIVADDON_SERVICE_URL=$url run service <<SCRIPT
type idEdit skivfan
type passwordEdit password1
folder C:\\Games\\WoW\\
click loginButton
state
$(shot win32-view-1-no-data)
answer yes
answer ok
click saveButton
wait
state
$(shot win32-view-2-with-data)
answer yes
click closeButton
SCRIPT
  expect service 1 'folder "C:' '-> C:\Games\WoW\'
  expect service 2 "mode=1 " 'memberId="skivfan"' 'noData="회원님의 셋팅 정보가 없습니다."' \
    ",versionsLink "
  expect service 3 'box yesno "Kelbo Skiv Addon" "기존 저장된 파일이 현재의 설정으로 다시 저장됩니다.'
  expect service 4 'box message "Kelbo Skiv Addon" "애드온이 모두 저장되었습니다" -> ok'
  expect service 5 "mode=2 " 'sizeValue="1MB"' 'dateLabel="최종 저장 날짜 : "'
  expect service 7 "end"

  # A second save after a change keeps two versions; the versions link
  # lists them, the real box installs the chosen row on OK, and the older
  # version installed through the link puts the first save's file back.
  saved="$game/WTF/Account/SKIVFAN/서버/캐릭터/SavedVariables/Skiv.lua"
  echo 'Skiv = { changed = true }' >"$saved"
  SKIVADDON_SERVICE_URL=$url run versions <<SCRIPT
type idEdit skivfan
type passwordEdit password1
folder C:\\Games\\WoW\\
click loginButton
answer yes
answer ok
click saveButton
wait
state
version real
$(peek win32-versions-box)
answer yes
answer ok
click versionsLink
wait
version 2
answer yes
answer ok
click versionsLink
wait
answer yes
click closeButton
SCRIPT
  expect versions 4 "mode=2 " ",versionsLink "
  expect versions 5 'versions 2 " 1  ' '" 2  ' "변경 1\"" "-> real"
  expect versions 6 'shown "저장된 버전" ""'
  expect versions 8 'box message "Kelbo Skiv Addon" "애드온이 모두 세팅되었습니다"'
  expect versions 9 'versions 2 ' '-> version 2'
  if [[ "$(cat "$saved")" != 'Skiv = {}' ]]; then
    echo "FAIL versions: the older version's file is not back: $(cat "$saved")"
    failures=$((failures + 1))
  fi
  if ! grep -q '^box message "Kelbo Skiv Addon" "애드온이 모두 세팅되었습니다"' <(sed -n '10,$p' "$work/versions.txt"); then
    echo "FAIL versions: the chosen version was not installed"; failures=$((failures + 1))
  fi
fi

if [[ -n "$shots" ]]; then
  mkdir -p "$shots"
  for bmp in "$work"/*.bmp; do
    python3 "$here/bmp_to_png.py" "$bmp" "$shots/$(basename "${bmp%.bmp}").png"
  done
fi

if ((failures)); then
  echo "--- transcripts"; cat "$work"/*.txt
  exit 1
fi
echo "window under Wine: all checks passed"

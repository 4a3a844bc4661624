#!/usr/bin/env bash
# Builds the Debian packages from a finished build and checks them without
# touching the machine's installed system: everything is unpacked into a
# throw-away root. A missing tool skips its check and says so; the script
# then ends with 77 (CTest: skipped) unless a check failed.
# Usage: check_packages.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: check_packages.sh BUILD_DIR}" && pwd)
work=$(mktemp -d /tmp/skiv-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0 skipped=0
fail() { echo "FAIL: $*"; failed=1; }
skip() { echo "SKIP: $*"; skipped=1; }
have() { command -v "$1" >/dev/null 2>&1; }

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  have "$tool" || { echo "SKIP: $tool is not installed; no packages to check"; exit 77; }
done

echo "== cpack"
rm -f "$build"/packages/*.deb
if ! (cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  fail "cpack"
  exit 1
fi
desktop_deb=$(ls "$build"/packages/skivaddon_*.deb)
service_deb=$(ls "$build"/packages/skivaddon-service_*.deb)
echo "$desktop_deb"; echo "$service_deb"

echo "== lintian"
if have lintian; then
  lintian --fail-on error --tag-display-limit 0 "$desktop_deb" "$service_deb" 2>&1 |
    grep -v '^running with root privileges' || true
  lintian --fail-on error "$desktop_deb" "$service_deb" >/dev/null 2>&1 || fail "lintian reports errors"
else
  skip "lintian is not installed"
fi

root="$work/root"
dpkg-deb -x "$desktop_deb" "$root" && dpkg-deb -x "$service_deb" "$root" || fail "dpkg-deb -x"

echo "== desktop entry and AppStream data"
desktop=$(ls "$root"/usr/share/applications/*.desktop)
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml)
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 32 48 128 256; do
  [[ -s "$root/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ]] ||
    fail "no ${size}x${size} icon named $icon"
done
if have desktop-file-validate; then
  out=$(desktop-file-validate "$desktop" 2>&1)
  [[ -z "$out" ]] || fail "desktop-file-validate: $out"
else
  skip "desktop-file-validate is not installed"
fi
if have appstreamcli; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
else
  skip "appstreamcli is not installed"
fi

echo "== the installed programs"
export LC_ALL=C.UTF-8
for prog in skivaddon skivaddon-cli skivaddon-service; do
  out=$("$root/usr/bin/$prog" --help 2>&1)
  status=$?
  if [[ $status -ne 0 || "$out" != *"Usage: $prog"* ]]; then
    fail "$prog --help (status $status): $out"
  fi
  out=$("$root/usr/bin/$prog" --version 2>&1)
  [[ "$out" == "$prog "[0-9]* ]] || fail "$prog --version: $out"
  "$root/usr/bin/$prog" --no-such-option >/dev/null 2>&1
  status=$?
  [[ $status -eq 2 ]] || fail "$prog --no-such-option exits $status, not 2"
done
for page in man1/skivaddon.1 man1/skivaddon-cli.1 man8/skivaddon-service.8; do
  [[ -s "$root/usr/share/man/$page.gz" ]] || fail "no man page $page"
done
# The shipped settings file is one the service accepts.
"$root/usr/bin/skivaddon-service" --config "$root/etc/skivaddon/service.toml" --check-config \
  >"$work/settings" 2>&1 || fail "service.toml: $(cat "$work/settings")"

echo "== the unit and its generator"
gen="$root/lib/systemd/system-generators/skivaddon-service-generator"
for port in 8443 443; do
  sed "s/^listen = .*/listen = \"0.0.0.0:$port\"/" "$root/etc/skivaddon/service.toml" >"$work/$port.toml"
  rm -rf "$work/gen"
  mkdir -p "$work/gen"
  SKIVADDON_SERVICE_BIN="$root/usr/bin/skivaddon-service" SKIVADDON_SERVICE_CONFIG="$work/$port.toml" \
    "$gen" "$work/gen" "$work/gen" "$work/gen" || fail "generator for port $port"
  dropin="$work/gen/skivaddon-service.service.d/50-low-port.conf"
  if [[ $port -lt 1024 ]]; then
    grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$dropin" 2>/dev/null ||
      fail "port $port: no CAP_NET_BIND_SERVICE drop-in"
  else
    [[ ! -e "$dropin" ]] || fail "port $port: a capability it does not need"
  fi
done
unit="$root/lib/systemd/system/skivaddon-service.service"
for key in 'User=skivaddon' 'StateDirectory=skivaddon' 'ProtectSystem=strict' \
  'NoNewPrivileges=yes' 'CapabilityBoundingSet=' 'AmbientCapabilities='; do
  grep -qx "$key" "$unit" || fail "unit lacks $key"
done
if have systemd-analyze; then
  # The unit is verified inside the throw-away root, beside copies of the
  # system's own targets it refers to; the low-port drop-in is verified
  # with it. Any message (an unknown key too) is a failure.
  cp -an /lib/systemd/system/. "$root/lib/systemd/system/" 2>/dev/null
  mkdir -p "$root/etc/systemd/system/skivaddon-service.service.d"
  cp "$dropin" "$root/etc/systemd/system/skivaddon-service.service.d/"
  out=$(systemd-analyze verify --man=no --root="$root" /lib/systemd/system/skivaddon-service.service 2>&1)
  status=$?
  [[ $status -eq 0 && -z "$out" ]] || fail "systemd-analyze verify: $out"
else
  skip "systemd-analyze is not installed"
fi

if ((failed)); then
  echo "packages: FAILED"
  exit 1
fi
if ((skipped)); then
  echo "packages: passed, some checks skipped (see SKIP above)"
  exit 77
fi
echo "packages: all checks passed"

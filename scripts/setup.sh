#!/usr/bin/env bash
# Installs what Brevan needs on Debian 12, then configures and builds it.
# Usage: scripts/setup.sh [run|test]
set -euo pipefail
mode=${1:-run}
cd "$(dirname "$0")/.."

# qt6-translations-l10n: Qt's own buttons in Chinese; dpkg-dev and file: the
# Debian package (cmake --build build --target package).
run_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins qt6-translations-l10n libicu-dev libpcre3-dev
  libssl-dev libssl3 libsecret-1-dev xdg-utils dpkg-dev file libsqlite3-dev)
# desktop-file-utils and appstream validate the installed desktop files; xvfb
# and x11-utils show the installed program on a virtual display; lintian
# checks the package; dbus and gnome-keyring give the keyring tests a private
# session bus and keyring.
test_pkgs=(libgtest-dev libgmock-dev libbenchmark-dev dovecot-pop3d python3 openssl desktop-file-utils appstream
  xvfb x11-utils lintian dbus gnome-keyring)
pkgs=("${run_pkgs[@]}")
[ "$mode" = test ] && pkgs+=("${test_pkgs[@]}")

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  # The tests start their own Dovecot on loopback; the system's mail service must
  # never be started or enabled by this install, so refuse every service start.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    made_policy=1
  fi
  $sudo apt-get update -q || true
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  [ "$made_policy" = 1 ] && $sudo rm -f "$policy"
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    for unit in dovecot.service dovecot.socket; do
      $sudo systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
  fi
fi

build=${BREVAN_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBREVAN_BUILD_TESTS=$([ "$mode" = test ] && echo ON || echo OFF) >/dev/null
cmake --build "$build" --parallel "$(nproc)"

#!/usr/bin/env bash
# Installs everything Voryx needs to build, run and test on Debian 12 or 13.
# VORYX_NO_BROWSER=1 leaves out the browser suite's chromium, nodejs, npm and its npm
# packages, and debootstrap: what the Debian 13 root of scripts/debian13.sh builds and
# runs the C++ suite with.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
browser=1
[ "${VORYX_NO_BROWSER:-0}" = "1" ] && browser=0
# The same names on both releases; none is pinned to a version. libmbim-glib-dev: Debian 12's
# libqmi-glib-dev does not pull it in, yet its qmi-glib.pc requires mbim-glib.
pkgs=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3 libmicrohttpd-dev
      nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev gammu
      help2man man-db dpkg-dev file lintian desktop-file-utils curl
      libpcsclite-dev pcscd vsmartcard-vpcd python3-pyscard
      libsystemd-dev dbus python3-dbus python3-gi lcov
      libebook1.2-dev evolution-data-server appstream
      libqmi-glib-dev libmbim-glib-dev libqmi-proxy libqmi-utils)
if [ "$browser" = 1 ]; then
  # debootstrap makes the Debian 13 root of scripts/test.sh's last stage.
  pkgs+=(chromium debootstrap)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "$browser" = 1 ]; then
  command -v npm >/dev/null || missing+=(nodejs npm)
fi
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y "${missing[@]}"
fi
if [ "$browser" = 1 ] && [ "${VORYX_SKIP_NPM:-0}" != "1" ] &&
   { [ ! -d node_modules/@playwright/test ] || [ ! -d node_modules/axe-core ]; }; then
  # No browser download: the tests use Debian's chromium. Exactly what package-lock.json
  # holds, without resolving anything anew.
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-fund --no-audit
fi

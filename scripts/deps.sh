#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the demo, the tests and the fuzz harnesses need, when any
# is missing.
# Packages named as arguments are installed too (scripts/package.sh and the packaging checks name
# their own tools).
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools qt6-base-private-dev
  qt6-serialport-dev qt6-svg-dev libgtest-dev xvfb xauth xdotool fonts-noto-cjk
  fonts-wqy-microhei imagemagick python3-pyatspi at-spi2-core dbus clang libfuzzer-14-dev
  libclang-rt-14-dev qt6-translations-l10n ser2net mbpoll python3-pymodbus python3-serial
  python3-serial-asyncio)
# qm7410d's libraries, and the broker and Prometheus its tests start.
packages+=(libmosquitto-dev libtomlplusplus-dev libsystemd-dev mosquitto mosquitto-clients prometheus)
# The live page's test: headless chromium driven by selenium, and npm for axe-core.
packages+=(chromium chromium-driver python3-selenium)
# npm comes with Node.js where that is installed from elsewhere, and Debian's npm package then
# conflicts with it.
command -v npm >/dev/null || packages+=(npm)
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

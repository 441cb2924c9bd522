#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, then configures and
# builds the four presets (release, asan-ubsan, tsan and fuzz).
set -euo pipefail
cd "$(dirname "$0")"

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config python3
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  libhidapi-dev libpcsclite-dev pcscd vsmartcard-vpcd
  libbluetooth-dev libsystemd-dev dbus
  util-linux
  libqrcodegencpp-dev libqrencode-dev zbar-tools
  libgtk-3-dev xvfb xauth xdotool imagemagick fonts-wqy-microhei fonts-liberation
  libsoil-dev
)
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"

for preset in release asan-ubsan tsan fuzz; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done

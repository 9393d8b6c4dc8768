#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, if any is missing.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  libsystemd-dev dbus python3-dbusmock python3-aiosmtpd libtomlplusplus-dev libssl-dev openssl zlib1g-dev
  libcli11-dev libcpp-httplib-dev libcurl4-openssl-dev libsqlite3-dev sqlite3 qt6-charts-dev nginx-light
  # Qt Charts' CMake files need the OpenGL module's, which qt6-charts-dev does not bring.
  libqt6opengl6-dev
  libcanberra-dev alsa-utils sox smbclient
  xvfb xauth imagemagick iproute2 procps libcap2-bin dunst
  desktop-file-utils appstream shared-mime-info libglib2.0-bin dpkg-dev lintian
  monitoring-plugins-basic fping
  openssh-client systemd
  # promtool and a real server for the metrics tests (the tests start their own on loopback).
  prometheus
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

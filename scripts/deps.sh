#!/usr/bin/env bash
# Installs the Debian packages the editor and its tests need, when missing.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libgtest-dev googletest zlib1g-dev
      libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev fonts-dejavu-core
      libpugixml-dev nlohmann-json3-dev libsodium-dev tiled python3
      xvfb xdotool imagemagick x11-utils iproute2 tcpdump clang libclang-rt-14-dev
      wireguard-tools wireguard-go nftables)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

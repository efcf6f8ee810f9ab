#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine, as root.
# Idempotent: when every tool is already present it returns at once.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(
  cmake ninja-build g++ make pkg-config
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  googletest
  wine wine32:i386 wine64
  xvfb
  python3 zip
)

for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${need[*]}); run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
echo "setup: installed ${need[*]}"

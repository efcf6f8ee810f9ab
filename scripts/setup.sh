#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine, as root.
# Idempotent: when every tool is already present (and, where it is needed, the
# i386 emulation handler is registered) it returns at once.
#
# Where the kernel cannot execute 32-bit x86 programs (IA-32 emulation switched
# off), it installs qemu-user-static and registers an i386 ELF handler with the
# kernel's binfmt_misc, so that 32-bit Wine and every 32-bit Windows program run
# under user-mode emulation. See the README for what that changes and how to
# undo it.
#
# A package mirror caught part-way through a sync does not stop it: see
# scripts/apt-steps.sh.
set -euo pipefail
. "$(dirname "$0")/i386.sh"
. "$(dirname "$0")/apt-steps.sh"

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(
  cmake ninja-build g++ make pkg-config
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  googletest zlib1g-dev libz-mingw-w64-dev
  clang libclang-rt-dev
  wine wine32:i386 wine64
  # Wine's own fonts (only recommended by Wine): Marlett draws the caption's buttons
  fonts-wine
  xvfb
  python3 zip
  # cjpeg, for the help page's pictures (scripts/help-images.sh); djpeg,
  # the reference the tests compare the host's JPEG decoding with
  libjpeg-turbo-progs
  # The native builds of the image codecs, for the pure code's tests and
  # fuzzers, and what builds them for Windows (scripts/mingw-codecs.sh)
  libtiff-dev libjpeg62-turbo-dev dpkg-dev
  # exiftool, the independent reader the tests check a photograph's
  # metadata with
  libimage-exiftool-perl
)

install_missing() {
  need=()
  local p
  for p in "$@"; do
    have_pkg "$p" || need+=("$p")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${need[*]}); run this script as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt_refresh_once "${need[@]}" || exit 1
  apt_install "${need[@]}" || exit 1
}

# Older releases ship a qemu whose user-mode memory map costs about a minute
# for every 32-bit Wine process; releases from 8.1 on take under a second.
qemu_is_recent() {
  have_pkg qemu-user-static &&
    dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user-static)" ge 1:8.1
}

qemu_version() {
  "$QEMU_I386" --version | head -n 1
}

# This release's backports, from the same archive as the release itself.
BACKPORTS_SOURCES=/etc/apt/sources.list.d/umbrolux-backports.sources
use_backports() {
  local codename uri
  codename=$(release_codename)
  if [ -f "$BACKPORTS_SOURCES" ]; then
    return 0
  fi
  uri=$(awk -v suite="$codename" '
      /^URIs:/ { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) { print uri; exit } }
      /^$/ { uri = "" }' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
  if [ -z "$uri" ]; then
    uri=$(awk -v suite="$codename" '
        $1 == "deb" { f = 2; if ($2 ~ /^\[/) while (f <= NF && $f !~ /\]$/) f++; if ($2 ~ /^\[/) f++
                      if ($(f + 1) == suite) { print $f; exit } }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1)
  fi
  if [ -z "$uri" ]; then
    echo "setup: cannot find the archive of $codename to add its backports" >&2
    exit 1
  fi
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" "$codename" > "$BACKPORTS_SOURCES"
  apt_refreshed=
}

install_from_backports() {
  local codename
  codename=$(release_codename)
  export DEBIAN_FRONTEND=noninteractive
  apt_refresh_once "$@" || exit 1
  apt_install -t "$codename-backports" "$@" || exit 1
}

install_missing "${packages[@]}"

# wine32 brought the 32-bit loader: if the kernel cannot run it, emulate it.
# A handler that someone else registered is kept as it is.
if ! can_run_i386 || i386_handler_is_ours; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: 32-bit x86 programs cannot run here; setting up their emulation needs root" >&2
    exit 1
  fi
  if ! qemu_is_recent; then
    use_backports
    install_from_backports qemu-user-static
    # The handler holds the interpreter it was registered with open: an
    # upgraded one takes effect only through a new registration.
    unregister_i386_handler
  fi
  if ! i386_handler_registered; then
    register_i386_handler
    echo "setup: registered $I386_HANDLER_NAME with binfmt_misc (32-bit x86 programs run under $(qemu_version))"
  fi
fi

# libtiff and libjpeg-turbo for both Windows targets, built from Debian's
# source packages of the versions installed natively.
"$(dirname "$0")/mingw-codecs.sh"

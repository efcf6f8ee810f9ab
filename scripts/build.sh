#!/usr/bin/env bash
# Builds everything: the 32- and 64-bit Windows trees (module, host, tests)
# and the native tree of the pure code.
set -euo pipefail
. "$(dirname "$0")/common.sh"

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  fi
}

configure "$BUILD/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
configure "$BUILD/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake"
configure "$BUILD/native" \
  -DUMBROLUX_MODULES="$BUILD/win32/bin/Umbrolux.8bf|$BUILD/win64/bin/Umbrolux.8bf"

for tree in win32 win64 native; do
  cmake --build "$BUILD/$tree" -- -j"$(nproc)"
done

#!/usr/bin/env bash
# Sets up, builds, and runs the filter over the bundled photograph in the
# emulated host. Usage: scripts/demo.sh [IMAGE [OUT]]
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

in=${1:-$ROOT/assets/cliff-backlit-500x420.png}
out=${2:-$ROOT/out/cliff-backlit-500x420-umbrolux.png}
mkdir -p "$(dirname "$out")"

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine

if can_run_i386; then
  tree=win32; loader=wine
else
  tree=win64; loader=$WINE64
fi
"$loader" "$BUILD/$tree/bin/filterhost.exe" run "$BUILD/$tree/bin/Umbrolux.8bf" "Z:$in" "Z:$out"

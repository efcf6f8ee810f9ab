#!/usr/bin/env bash
# Sets up, builds, and runs the filter over the bundled photograph in the
# emulated host, writing the result. Usage:
#   scripts/demo.sh [IMAGE [OUT]] [--bias B] [--gamma G] [--contrast C] [--tile WxH]
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

files=()
while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do files+=("$1"); shift; done
in=$(realpath "${files[0]:-$ROOT/assets/cliff-backlit-500x420.png}")
out=$(realpath -m "${files[1]:-$ROOT/out/cliff-backlit-500x420-umbrolux.png}")
# The bundled photograph is shown with a visible lift unless told otherwise.
[ ${#files[@]} -eq 0 ] && [ $# -eq 0 ] && set -- --bias 0.5 --gamma 2 --contrast 255
mkdir -p "$(dirname "$out")"

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine

if can_run_i386; then
  tree=win32; loader=wine
else
  tree=win64; loader=$WINE64
fi
"$loader" "$BUILD/$tree/bin/filterhost.exe" run "$BUILD/$tree/bin/Umbrolux.8bf" "Z:$in" "Z:$out" "$@"

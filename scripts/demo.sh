#!/usr/bin/env bash
# Sets up, builds, and runs the filter over the bundled photograph in the
# emulated host: the values are typed into the filter's dialog, which is
# saved as a screenshot with its preview's Mask view, and OK writes the
# result. Usage:
#   scripts/demo.sh [IMAGE [OUT]] [--set bias=B,gamma=G,contrast=C] [--tile WxH]
# OUT-dialog.png and OUT-mask.png are written beside OUT.
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

files=()
while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do files+=("$1"); shift; done
in=$(realpath "${files[0]:-$ROOT/assets/cliff-backlit-500x420.png}")
out=$(realpath -m "${files[1]:-$ROOT/out/cliff-backlit-500x420-umbrolux.png}")
# Nobody sits at the virtual display: without values of its own, the
# dialog is given a visible lift.
case " $* " in
  *" --set "*|*" --ok "*) ;;
  *) set -- --set bias=0.5,gamma=2,contrast=255 "$@" ;;
esac
mkdir -p "$(dirname "$out")"
base=${out%.*}

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine

if can_run_i386; then
  tree=win32; loader=wine
else
  tree=win64; loader=$WINE64
fi
"$loader" "$BUILD/$tree/bin/filterhost.exe" run "$BUILD/$tree/bin/Umbrolux.8bf" "Z:$in" "Z:$out" \
  --screenshot "Z:$base-dialog.png" --mask-view "Z:$base-mask.png" "$@"

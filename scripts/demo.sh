#!/usr/bin/env bash
# Sets up, builds, and runs the filter over the bundled photograph in the
# emulated host: the values are typed into the filter's dialog, which is
# saved as a screenshot with its preview's Mask view, and OK writes the
# result. Usage:
#   scripts/demo.sh [--arch 32|64] [IMAGE [OUT]] [--set bias=B,gamma=G,contrast=C] [--tile WxH]
#                   [--host full|plain|plain-handles|plain-no-memory]
# OUT-dialog.png and OUT-mask.png are written beside OUT. --host chooses the
# host the filter sees (filterhost's host profiles; full by default) and goes
# on to filterhost with the other options. Without --arch it runs the 32-bit
# module where this machine runs 32-bit code natively, and the 64-bit one
# where 32-bit code is only emulated (several times slower).
set -euo pipefail
. "$(dirname "$0")/common.sh"

# A profile name is checked before anything is built.
args=("$@")
for i in "${!args[@]}"; do
  if [ "${args[$i]}" = --host ]; then
    case "${args[$((i + 1))]:-}" in
      full|plain|plain-handles|plain-no-memory) ;;
      *) echo "demo: --host takes full, plain, plain-handles or plain-no-memory" >&2; exit 2 ;;
    esac
  fi
done

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

arch=
if [ "${1:-}" = --arch ]; then
  arch=${2:-}
  case "$arch" in
    32|64) shift 2 ;;
    *) echo "demo: --arch takes 32 or 64" >&2; exit 2 ;;
  esac
fi

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

if [ -z "$arch" ]; then
  if i386_runs_natively; then arch=32; else arch=64; fi
fi
if [ "$arch" = 32 ]; then
  if ! can_run_i386; then
    echo "demo: this machine cannot run 32-bit x86 programs (scripts/setup.sh sets up their emulation)" >&2
    exit 1
  fi
  tree=win32; loader=$WINE32
  echo "demo: the 32-bit module, run $(i386_mode)"
else
  tree=win64; loader=$WINE64
  echo "demo: the 64-bit module"
fi
"$loader" "$BUILD/$tree/bin/filterhost.exe" run "$BUILD/$tree/bin/Umbrolux.8bf" "Z:$in" "Z:$out" \
  --screenshot "Z:$base-dialog.png" --mask-view "Z:$base-mask.png" "$@"

#!/usr/bin/env bash
# Renders the pictures of the help page with the filter itself and embeds
# them in resources/Umbrolux.htm. Usage:
#   scripts/help-images.sh [--bin DIR]
# Each <img data-render="..."> of the page says what it shows (see
# scripts/help-page.py): the bundled photograph, the filter's output or the
# dialog's Mask view for the given values. They are rendered by the 64-bit
# module in the emulated host under Wine, with the values set as the
# dialog's last values and OK pressed, so that any value a slider can reach,
# 0 included, can be shown. The page's text is not touched; commit the page
# after checking the pictures against it.
#
# Without --bin it sets up and builds first and uses build/win64/bin; with
# --bin it uses filterhost.exe and Umbrolux.8bf from DIR as they are.
set -euo pipefail
. "$(dirname "$0")/common.sh"

bin=
if [ "${1:-}" = --bin ]; then
  [ -n "${2:-}" ] || { echo "help-images: --bin takes a folder" >&2; exit 2; }
  bin=$(realpath "$2")
  shift 2
fi
[ $# -eq 0 ] || { echo "usage: scripts/help-images.sh [--bin DIR]" >&2; exit 2; }

if [ -z "$bin" ]; then
  "$ROOT/scripts/setup.sh"
  "$ROOT/scripts/build.sh"
  bin=$BUILD/win64/bin
fi
for f in filterhost.exe Umbrolux.8bf; do
  [ -f "$bin/$f" ] || { echo "help-images: no $bin/$f" >&2; exit 1; }
done
command -v cjpeg >/dev/null || {
  echo "help-images: cjpeg is missing (Debian package libjpeg-turbo-progs; scripts/setup.sh installs it)" >&2
  exit 1
}

page=$ROOT/resources/Umbrolux.htm
photo=$ROOT/assets/cliff-backlit-500x420.png
work=$(mktemp -d)
trap 'stop_wine; stop_xvfb; rm -rf "$work"' EXIT
start_xvfb
start_wine

python3 "$ROOT/scripts/help-page.py" list "$page" > "$work/renders"
while read -r what name; do
  [ "$what" = original ] && continue
  kind=${what%%:*}
  values=${what#*:}
  bias='' gamma='' contrast=''
  IFS=, read -r -a pairs <<< "$values"
  for pair in "${pairs[@]}"; do
    case "$pair" in
      bias=*) bias=${pair#bias=} ;;
      gamma=*) gamma=${pair#gamma=} ;;
      contrast=*) contrast=${pair#contrast=} ;;
    esac
  done
  args=(--bias "$bias" --gamma "$gamma" --contrast "$contrast" --ok)
  if [ "$kind" = mask ]; then
    args+=(--mask-view "Z:$work/$name")
    out=Z:$work/scratch-$name
  else
    out=Z:$work/$name
  fi
  if ! "$WINE64" "$bin/filterhost.exe" run "$bin/Umbrolux.8bf" "Z:$photo" "$out" "${args[@]}" \
      < /dev/null > "$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "help-images: rendering $what failed" >&2
    exit 1
  fi
  echo "help-images: rendered $what"
done < "$work/renders"

python3 "$ROOT/scripts/help-page.py" embed "$page" "$work" "$photo"

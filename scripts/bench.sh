#!/usr/bin/env bash
# Prints speed figures for the kernels and the host's filters, natively and
# under Wine, on noise and on a large real photograph (a CC0 picture from
# Debian's lomiri-wallpapers-16.04 package, converted to PPM with djpeg).
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
photo_jpeg=/usr/share/backgrounds/seeding_by_Clements_Engelhardt.jpg
if [ ! -f "$photo_jpeg" ] || ! command -v djpeg >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    lomiri-wallpapers-16.04 libjpeg-turbo-progs >/dev/null
fi
"$ROOT/scripts/build.sh"

bench=$BUILD/bench
if [ ! -f "$bench/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUMBROLUX_SANITIZE=OFF >/dev/null
fi
cmake --build "$bench" --target umbrolux_bench >/dev/null
photo=$bench/photo.ppm
[ -f "$photo" ] || djpeg -ppm -outfile "$photo" "$photo_jpeg"

echo "== native (x86_64)"
"$bench/bin/umbrolux_bench" "$photo"

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine
echo "== under Wine (x64 build)"
"$WINE64" "$BUILD/win64/bin/umbrolux_bench.exe" "Z:$photo"

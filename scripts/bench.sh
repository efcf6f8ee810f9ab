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

echo "== one preview paint in the dialog under Wine"
"$WINE64" "$BUILD/win64/bin/preview_bench.exe" "$BUILD/win64/bin/Umbrolux.8bf" "Z:$ROOT/assets/cliff-backlit-500x420.png"

echo "== the whole run in the emulated host under Wine (15.9 MP photograph)"
host="$WINE64 $BUILD/win64/bin/filterhost.exe"
module=$BUILD/win64/bin/Umbrolux.8bf
png8=$bench/photo-8.png
tif16=$bench/photo-16.tif
[ -f "$png8" ] || $host convert "Z:$photo_jpeg" "Z:$png8"
[ -f "$tif16" ] || $host convert "Z:$png8" "Z:$tif16" --depth 16
for input in "$png8" "$tif16"; do
  $WINE64 "$BUILD/win64/bin/preview_bench.exe" "$module" "Z:$input"
done
for input in "$png8" "$tif16"; do
  for tile in 256x256 1024x1024; do
    echo "-- $(basename "$input"), tiles $tile"
    $host run "$module" "Z:$input" "Z:$bench/out.${input##*.}" --bias 0.5 --gamma 2 --contrast 255 --ok \
      --tile "$tile" | grep -E '^Timing'
  done
done

if ! command -v gegl >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gegl >/dev/null
fi
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); awk "BEGIN { print $e - $s }"; }
echo "== GEGL's shadows-highlights on the same 8-bit photograph, for comparison"
whole=$(seconds gegl "$png8" -o "$bench/gegl.png" -- shadows-highlights shadows=50 highlights=0 radius=100 compress=50)
plain=$(seconds gegl "$png8" -o "$bench/gegl-plain.png")
printf '  gegl with the operation %.2f s, decode and encode only %.2f s, the operation %.2f s\n' \
  "$whole" "$plain" "$(awk "BEGIN { print $whole - $plain }")"

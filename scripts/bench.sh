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
cmake --build "$bench" --target umbrolux_bench codec_bench metadata_bench >/dev/null
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

echo "== a long session: what each run leaves in the host's process, the module held and loaded for every run"
"$WINE64" "$BUILD/win64/bin/soak_bench.exe" "$BUILD/win64/bin/Umbrolux.8bf" "Z:$ROOT/assets/cliff-backlit-500x420.png" 100
if can_run_i386; then
  echo "-- the 32-bit module, run $(i386_mode)"
  "$WINE32" "$BUILD/win32/bin/soak_bench.exe" "$BUILD/win32/bin/Umbrolux.8bf" "Z:$ROOT/assets/cliff-backlit-500x420.png" 100
fi

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
echo "-- the same in a plain host (the preview read through delivered image data, no channel ports)"
$WINE64 "$BUILD/win64/bin/preview_bench.exe" "$module" "Z:$png8" plain
echo "== the host's PNG reader and writer on the 8-bit photograph, natively and under Wine"
"$bench/bin/codec_bench" "$png8"
"$WINE64" "$BUILD/win64/bin/codec_bench.exe" "Z:$png8"
echo "== a photograph's metadata (a 64 KB EXIF, a 3 KB profile) carried, and JPEG against PNG writing, natively and under Wine"
"$bench/bin/metadata_bench" "$png8"
"$WINE64" "$BUILD/win64/bin/metadata_bench.exe" "Z:$png8"
for input in "$png8" "$tif16"; do
  for tile in 256x256 1024x1024; do
    echo "-- $(basename "$input"), tiles $tile"
    timing=$($host run "$module" "Z:$input" "Z:$bench/out.${input##*.}" --bias 0.5 --gamma 2 --contrast 255 --ok \
      --tile "$tile" | grep -E '^Timing')
    echo "$timing"
    if [ "$input" = "$png8" ] && [ "$tile" = 256x256 ]; then
      filter_step=$(echo "$timing" | sed -n 's/.*; filter \([0-9.]*\) s.*/\1/p')
    fi
  done
done
echo "  the filter step at 8 bits, default tiles: $filter_step s (goal: at most 0.35 s)"
echo "-- $(basename "$png8") in a plain host (the module smooths the mask itself), against the full host"
for profile in full plain; do
  timing=$($host run "$module" "Z:$png8" "Z:$bench/out-$profile.png" --bias 0.5 --gamma 2 --contrast 255 --ok \
    --host "$profile" | grep -E '^Timing')
  echo "  $profile: $timing"
done
if cmp -s "$bench/out-full.png" "$bench/out-plain.png"; then
  echo "  the two outputs are the same file"
else
  echo "  the two outputs differ"
fi

echo "-- the same photograph with a transparency gradient, in a plain host, against it without"
png8a=$bench/photo-8-alpha.png
[ -f "$png8a" ] || python3 "$ROOT/scripts/add-alpha.py" "$photo" "$png8a"
for input in "$png8" "$png8a"; do
  timing=$($host run "$module" "Z:$input" "Z:$bench/out-alpha.png" --bias 0.5 --gamma 2 --contrast 255 --ok \
    --host plain | grep -E '^Timing')
  echo "  $(basename "$input"): $timing"
done
echo "-- one preview paint of it in a plain host (the layer over the checkerboard)"
$WINE64 "$BUILD/win64/bin/preview_bench.exe" "$module" "Z:$png8a" plain

if ! command -v gegl >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gegl >/dev/null
fi
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); awk "BEGIN { print $e - $s }"; }
best_of_3() { local best=999 t; for _ in 1 2 3; do t=$(seconds "$@"); best=$(awk "BEGIN { print ($t < $best) ? $t : $best }"); done; echo "$best"; }
echo "== GEGL's shadows-highlights on the same 8-bit photograph, for comparison"
whole=$(seconds gegl "$png8" -o "$bench/gegl.png" -- shadows-highlights shadows=50 highlights=0 radius=100 compress=50)
plain=$(seconds gegl "$png8" -o "$bench/gegl-plain.png")
printf '  gegl with the operation %.2f s, decode and encode only %.2f s, the operation %.2f s\n' \
  "$whole" "$plain" "$(awk "BEGIN { print $whole - $plain }")"

echo "== one photograph end to end: filterhost run, the 8-bit PNG to a PNG (best of 3, wall time)"
ours=$(best_of_3 $host run "$module" "Z:$png8" "Z:$bench/out.png" --bias 0.5 --gamma 2 --contrast 255 --ok)
printf '  %.2f s (goal: at most 2.0 s); GEGL %.2f s, %.1fx as fast (goal: at least 4x)\n' \
  "$ours" "$whole" "$(awk "BEGIN { print $whole / $ours }")"
timing_line() { $host run "$module" "Z:$png8" "Z:$bench/out.png" --bias 0.5 --gamma 2 --contrast 255 --ok "$@" | grep -E '^Timing'; }
single=$(timing_line --threads 1)
all=$(timing_line)
threads=$(echo "$all" | sed -n 's/.*; \([0-9]*\) thread(s).*/\1/p')
step() { echo "$1" | sed -n "s/.*$2 \([0-9.]*\) s.*/\1/p"; }
echo "-- each step of the run (its timing line), on 1 thread and on $threads"
for pair in "decode:decode" "dialog:dialog" "filter:filter" "  the module:own work" \
            "  blur, median:blur and median" "  tile delivery:tile delivery" "encode:encode" \
            "the rest:checks)" "in all:in all"; do
  printf '  %-16s %6.3f s  %6.3f s\n' "${pair%%:*}" "$(step "$single" "${pair#*:}")" "$(step "$all" "${pair#*:}")"
done

echo "== many photographs: filterhost batch over 8 copies of the 8-bit PNG"
copies=$bench/batch-in
mkdir -p "$copies"
for i in 1 2 3 4 5 6 7 8; do [ -f "$copies/photo-$i.png" ] || cp "$png8" "$copies/photo-$i.png"; done
jobs=$(nproc)
# One core against all of them: one job on one thread, then one job per
# processor (each of their threads shared out), then one job on every thread.
rm -rf "$bench/batch-out"
one=$(seconds $host batch "$module" "Z:$bench/batch-out" "Z:$copies" --ok --jobs 1 --threads 1)
rm -rf "$bench/batch-out"
many=$(seconds $host batch "$module" "Z:$bench/batch-out" "Z:$copies" --ok --jobs "$jobs")
rm -rf "$bench/batch-out"
threaded=$(seconds $host batch "$module" "Z:$bench/batch-out" "Z:$copies" --ok --jobs 1)
rm -rf "$bench/batch-out"
printf '  one job on one thread %.1f s; --jobs %d %.1f s: %.2fx the throughput (goal: at least 1.8x on 2 cores); one job on %d threads %.1f s\n' \
  "$one" "$jobs" "$many" "$(awk "BEGIN { print $one / $many }")" "$jobs" "$threaded"

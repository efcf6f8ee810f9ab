#!/usr/bin/env bash
# A photograph goes through `filterhost run` and `batch` and comes out with
# what it went in with, as an independent reader (exiftool) sees it: its
# colour profile byte for byte, EXIF (orientation, camera, date) without the
# thumbnail of the unfiltered picture, XMP, text, resolution and alpha; a
# JPEG comes out a JPEG at its own quality and chroma subsampling.
#
#   metadata-kept.sh LOADER FILTERHOST MODULE [PROFILE]
# LOADER runs Windows programs (wine); DISPLAY and WINEPREFIX are set.
set -euo pipefail
loader=$1 filterhost=$2 module=Z:$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The inputs: a phone's JPEG (4:2:0, quality 87, rotated 90 degrees, a
# camera, a date, a profile, a thumbnail, XMP), a PNG with iCCP, eXIf, iTXt
# and tEXt chunks, a 16-bit TIFF with a profile, XMP and a resolution, and an
# RGBA PNG with a profile.
python3 "$here/make-photos.py" "$work"
cjpeg -quality 87 -sample 2x2 -outfile phone.jpg base.ppm
cjpeg -quality 60 -outfile thumbnail.jpg base.ppm
tag_it() { exiftool -q -q -overwrite_original "$@"; }
tag_it -Orientation#=6 -Make=PhoneMaker -Model="Phone 9" -DateTimeOriginal="2026:06:01 12:00:00" \
  "-ICC_Profile<=profile.icc" "-ThumbnailImage<=thumbnail.jpg" -XMP-dc:Title="Backlit cliff" phone.jpg
cp base.png photo.png
tag_it "-ICC_Profile<=profile.icc" -EXIF:Orientation#=8 -EXIF:Make=Camera -XMP-dc:Title="Cliff in PNG" \
  -PNG:Comment="kept text" photo.png
tag_it "-ICC_Profile<=profile.icc" -XMP-dc:Title="Deep cliff" -XResolution=300 -YResolution=300 \
  -ResolutionUnit=inches deep.tif
tag_it "-ICC_Profile<=profile.icc" rgba.png
want_profile=$(sha256sum <profile.icc | cut -c1-64)
want_alpha=$(python3 "$here/inspect-image.py" alpha rgba.png)
phone_tables=$(python3 "$here/inspect-image.py" tables phone.jpg)

failures=0
expect() {  # what, expected, found
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected '$2', found '$3'"
    failures=$((failures + 1))
  fi
}
tag() { exiftool -s3 -n "-$1" "$2"; }
profile_of() { exiftool -b -ICC_Profile "$1" | sha256sum | cut -c1-64; }

filter() {  # log, arguments...
  local log=$1
  shift
  if ! "$loader" "$filterhost" "$@" >"$log" 2>&1; then
    echo "FAILED: filterhost $*"
    cat "$log"
    exit 1
  fi
}
mkdir out
values=(--set bias=0.5,gamma=2,contrast=255)

# run: each input into each format.
filter run-phone.log run "$module" "Z:$work/phone.jpg" "Z:$work/out/phone.jpg" "${values[@]}"
filter run-phone-png.log run "$module" "Z:$work/phone.jpg" "Z:$work/out/phone.png" "${values[@]}"
filter run-phone-tif.log run "$module" "Z:$work/phone.jpg" "Z:$work/out/phone.tif" "${values[@]}"
filter run-photo.log run "$module" "Z:$work/photo.png" "Z:$work/out/photo.png" "${values[@]}"
filter run-photo-jpg.log run "$module" "Z:$work/photo.png" "Z:$work/out/photo.jpg" "${values[@]}"
filter run-deep.log run "$module" "Z:$work/deep.tif" "Z:$work/out/deep.tif" "${values[@]}"
filter run-deep-jpg.log run "$module" "Z:$work/deep.tif" "Z:$work/out/deep.jpg" "${values[@]}"
filter run-rgba.log run "$module" "Z:$work/rgba.png" "Z:$work/out/rgba.png" "${values[@]}" --host plain

for out in out/phone.jpg out/phone.png out/phone.tif; do
  expect "$out: the profile" "$want_profile" "$(profile_of $out)"
  expect "$out: the orientation" 6 "$(tag Orientation $out)"
  expect "$out: the XMP" "Backlit cliff" "$(tag XMP-dc:Title $out)"
  expect "$out: the size" "96 64" "$(tag ImageWidth $out) $(tag ImageHeight $out)"
done
for out in out/phone.jpg out/phone.png out/phone.tif; do
  expect "$out: the camera" "PhoneMaker Phone 9" "$(tag EXIF:Make $out) $(tag EXIF:Model $out)"
  expect "$out: the date" "2026:06:01 12:00:00" "$(tag DateTimeOriginal $out)"
  expect "$out: no thumbnail of the unfiltered picture" "" "$(tag ThumbnailImage $out)"
done
expect "phone.jpg: a JPEG" JPEG "$(tag FileType out/phone.jpg)"
expect "phone.jpg: the input's quality (the same tables)" "$phone_tables" \
  "$(python3 "$here/inspect-image.py" tables out/phone.jpg)"
expect "phone.jpg: the input's chroma subsampling" "2 2" "$(tag YCbCrSubSampling out/phone.jpg)"
expect "phone.jpg: the run says the thumbnail was dropped" 1 "$(grep -c 'EXIF thumbnail' run-phone.log)"

for out in out/photo.png out/photo.jpg; do
  expect "$out: the profile" "$want_profile" "$(profile_of $out)"
  expect "$out: the orientation" 8 "$(tag Orientation $out)"
  expect "$out: the camera" Camera "$(tag EXIF:Make $out)"
  expect "$out: the XMP" "Cliff in PNG" "$(tag XMP-dc:Title $out)"
done
expect "photo.png: the text" "kept text" "$(tag PNG:Comment out/photo.png)"
expect "photo.jpg: the run says the text was dropped" 1 "$(grep -c 'text chunks' run-photo-jpg.log)"

for out in out/deep.tif out/deep.jpg; do
  expect "$out: the profile" "$want_profile" "$(profile_of $out)"
  expect "$out: the XMP" "Deep cliff" "$(tag XMP-dc:Title $out)"
done
expect "deep.tif: 16 bits" "16 16 16" "$(tag BitsPerSample out/deep.tif)"
expect "deep.tif: the resolution" "300 300 2" \
  "$(tag XResolution out/deep.tif) $(tag YResolution out/deep.tif) $(tag ResolutionUnit out/deep.tif)"
expect "deep.jpg: 8 bits" 8 "$(tag BitsPerSample out/deep.jpg)"
expect "deep.jpg: the resolution" "300 300 1" \
  "$(tag XResolution out/deep.jpg) $(tag YResolution out/deep.jpg) $(tag ResolutionUnit out/deep.jpg)"
expect "deep.jpg: the run says it was rounded to 8 bits" 1 "$(grep -c '16-bit precision' run-deep-jpg.log)"

expect "rgba.png: the profile" "$want_profile" "$(profile_of out/rgba.png)"
expect "rgba.png: RGB with alpha" 6 "$(tag ColorType out/rgba.png)"
expect "rgba.png: the alpha, byte for byte" "$want_alpha" "$(python3 "$here/inspect-image.py" alpha out/rgba.png)"

# batch: JPEG in gives JPEG out, each file in its own format.
mkdir batch
filter batch.log batch "$module" "Z:$work/batch" "Z:$work/phone.jpg" "Z:$work/photo.png" "Z:$work/deep.tif" \
  "${values[@]}" --jobs 1
expect "batch: the outputs" "deep.tif phone.jpg photo.png" "$(cd batch && ls | tr '\n' ' ' | sed 's/ $//')"
expect "batch phone.jpg: a JPEG" JPEG "$(tag FileType batch/phone.jpg)"
for out in batch/phone.jpg batch/photo.png batch/deep.tif; do
  expect "$out: the profile" "$want_profile" "$(profile_of $out)"
done
expect "batch phone.jpg: the orientation and camera" "6 PhoneMaker" \
  "$(tag Orientation batch/phone.jpg) $(tag EXIF:Make batch/phone.jpg)"
expect "batch photo.png: the orientation and XMP" "8 Cliff in PNG" \
  "$(tag Orientation batch/photo.png) $(tag XMP-dc:Title batch/photo.png)"
expect "batch deep.tif: the XMP" "Deep cliff" "$(tag XMP-dc:Title batch/deep.tif)"

# --format and --quality: a JPEG into PNG keeps what it had; a JPEG at a
# quality asked for has the tables cjpeg makes for it.
mkdir as-png
filter batch-format.log batch "$module" "Z:$work/as-png" "Z:$work/phone.jpg" "${values[@]}" --jobs 1 --format png
expect "batch --format png: a PNG" PNG "$(tag FileType as-png/phone.png)"
expect "batch --format png: the profile" "$want_profile" "$(profile_of as-png/phone.png)"
expect "batch --format png: the orientation and camera" "6 PhoneMaker" \
  "$(tag Orientation as-png/phone.png) $(tag EXIF:Make as-png/phone.png)"
cjpeg -quality 50 -sample 2x2 -outfile q50.jpg base.ppm
filter run-quality.log run "$module" "Z:$work/phone.jpg" "Z:$work/out/phone-q50.jpg" "${values[@]}" --quality 50
expect "--quality 50: the tables of quality 50" "$(python3 "$here/inspect-image.py" tables q50.jpg)" \
  "$(python3 "$here/inspect-image.py" tables out/phone-q50.jpg)"

# Damaged metadata: a profile one of whose segments is missing is left out,
# the photograph is still filtered with the rest, and the line says why.
python3 - "$work" <<'PY'
import struct, sys
folder = sys.argv[1]
data = open(folder + "/phone.jpg", "rb").read()
at, out, skipped = 2, bytearray(data[:2]), False
while at < len(data) and data[at] == 0xFF and data[at + 1] != 0xDA:
    length = struct.unpack(">H", data[at + 2:at + 4])[0]
    segment = data[at:at + 2 + length]
    if data[at + 1] == 0xE2 and segment[4:16] == b"ICC_PROFILE\0" and not skipped:
        skipped = True
        out += segment[:4] + segment[4:16] + bytes([2, 2]) + segment[18:]  # "part 2 of 2", part 1 missing
    else:
        out += segment
    at += 2 + length
out += data[at:]
open(folder + "/damaged.jpg", "wb").write(out)
PY
filter run-damaged.log run "$module" "Z:$work/damaged.jpg" "Z:$work/out/damaged.jpg" "${values[@]}"
expect "damaged.jpg: filtered and written" 1 "$(grep -c '^Wrote ' run-damaged.log)"
expect "damaged.jpg: no profile" "" "$(exiftool -b -ICC_Profile out/damaged.jpg)"
expect "damaged.jpg: the rest kept" "6 Backlit cliff" \
  "$(tag Orientation out/damaged.jpg) $(tag XMP-dc:Title out/damaged.jpg)"
expect "damaged.jpg: the line says why the profile was left out" 1 \
  "$(grep -c 'colour profile (its APP2 segments are missing or out of order)' run-damaged.log)"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi

#!/usr/bin/env bash
# Builds both modules and packs each, with its help page, an install note and
# the licence, into out/release/Umbrolux-<version>-win32.zip and
# Umbrolux-<version>-x64.zip. The version is the module's version record's.
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' \
  "$ROOT/resources/Umbrolux.rc")
[ -n "$version" ] || { echo "release: no FILEVERSION in resources/Umbrolux.rc" >&2; exit 1; }
out=$ROOT/out/release
mkdir -p "$out"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

for kind in win32 x64; do
  if [ "$kind" = win32 ]; then tree=win32; host="32-bit"; machine="32-bit x86"; else tree=win64; host="64-bit"; machine="64-bit x64"; fi
  name=Umbrolux-$version-$kind
  mkdir -p "$stage/$name"
  cp "$BUILD/$tree/bin/Umbrolux.8bf" "$BUILD/$tree/bin/Umbrolux.htm" "$stage/$name/"
  sed -e "s/@VERSION@/$version/g" -e "s/@HOST_KIND@/$host/g" -e "s/@MACHINE@/$machine/g" \
    "$ROOT/resources/INSTALL.txt" | sed 's/$/\r/' > "$stage/$name/INSTALL.txt"
  sed 's/$/\r/' "$ROOT/LICENSE.txt" > "$stage/$name/LICENSE.txt"
  # The libraries' licences, from the sources scripts/setup.sh built them from.
  licenses=/opt/umbrolux-mingw/$([ "$kind" = win32 ] && echo i686 || echo x86_64)-w64-mingw32/share/licenses
  {
    for file in libtiff-LICENSE.md libjpeg-turbo-LICENSE.md libjpeg-turbo-README.ijg zlib-copyright; do
      [ -f "$licenses/$file" ] || { echo "release: $licenses/$file is missing; run scripts/setup.sh" >&2; exit 1; }
      printf '==== %s ====\n\n' "$file"
      cat "$licenses/$file"
      printf '\n'
    done
  } | sed 's/$/\r/' > "$stage/$name/THIRD-PARTY.txt"
  # The same bytes every time from the same build: fixed dates, no extras.
  find "$stage/$name" -exec touch -d "2026-01-01 00:00:00 UTC" {} +
  rm -f "$out/$name.zip"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
  echo "Wrote $out/$name.zip"
  python3 -m zipfile -l "$out/$name.zip"
done

#!/usr/bin/env bash
# Builds the image codecs that filterhost links, libjpeg-turbo and libtiff,
# as static libraries for both Windows targets, from Debian's source packages
# of the same versions as the native development packages (libjpeg62-turbo-dev,
# libtiff-dev), into /opt/umbrolux-mingw/<triplet>. zlib comes built
# (libz-mingw-w64-dev).
#
# Idempotent: a prefix whose stamp names the same source versions and recipe
# is left as it is, and the script returns at once. setup.sh runs it, as root.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PREFIX_ROOT=${UMBROLUX_MINGW_PREFIX:-/opt/umbrolux-mingw}
# Raised whenever the options below change, so that a machine rebuilds.
RECIPE=1
TRIPLETS=(i686-w64-mingw32 x86_64-w64-mingw32)

source_of() {  # binary package -> "source version"
  dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1"
}
wanted=$(printf 'recipe %s\n%s\n%s\n' "$RECIPE" "$(source_of libjpeg62-turbo-dev)" "$(source_of libtiff-dev)")

all_built=1
for t in "${TRIPLETS[@]}"; do
  if [ "$(cat "$PREFIX_ROOT/$t/umbrolux-codecs.stamp" 2>/dev/null)" != "$wanted" ]; then all_built=; fi
done
[ -n "$all_built" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: the Windows builds of libtiff and libjpeg-turbo are missing; run scripts/setup.sh as root" >&2
  exit 1
fi

# Source packages need deb-src entries: the same archives and suites as the
# binary ones, in a file of our own (added once).
SOURCES_FILE=/etc/apt/sources.list.d/umbrolux-sources.sources
SOURCES_LIST=/etc/apt/sources.list.d/umbrolux-sources.list
if [ ! -f "$SOURCES_FILE" ] && [ ! -f "$SOURCES_LIST" ]; then
  deb822=$(awk '
      BEGIN { RS = ""; ORS = "\n\n" }
      /(^|\n)Types:[^\n]*deb([ \t]|$|\n)/ {
        n = split($0, lines, "\n"); out = ""
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^Types:/) lines[i] = "Types: deb-src"
          if (lines[i] ~ /^#/) continue
          out = out lines[i] "\n"
        }
        printf "%s\n", out
      }' $(ls /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v umbrolux-sources) /dev/null)
  oneline=$(grep -h '^deb[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            sed 's/^deb[[:space:]]/deb-src /' || true)
  if [ -n "$deb822" ]; then printf '%s' "$deb822" > "$SOURCES_FILE"; fi
  if [ -n "$oneline" ]; then printf '%s\n' "$oneline" > "$SOURCES_LIST"; fi
  if [ -z "$deb822" ] && [ -z "$oneline" ]; then
    echo "setup: no Debian archive found in the package sources to fetch source packages from" >&2
    exit 1
  fi
  # An index that a mirror serves out of step is used as it was.
  . "$ROOT/scripts/apt-steps.sh"
  apt_refresh || exit 1
fi

work=$PREFIX_ROOT/src
mkdir -p "$work"
# The installed version's source first; when the archive no longer serves it
# (a security update whose source a mirror lacks), the newest it serves.
fetch() {  # binary package -> unpacked source folder (printed)
  local src version dir v
  read -r src version < <(source_of "$1")
  for v in "$version" $(apt-cache showsrc "$src" 2>/dev/null | sed -n 's/^Version: //p' |
                         sort -u | sort -r -V); do
    dir=$work/$src-${v#*:}
    if [ -d "$dir" ]; then echo "$dir"; return 0; fi
    rm -rf "$work/fetch" && mkdir -p "$work/fetch"
    if (cd "$work/fetch" && apt-get source -qq "$src=$v" >/dev/null 2>&1); then
      mv "$(find "$work/fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$dir"
      rm -rf "$work/fetch"
      [ "$v" = "$version" ] || echo "setup: the source of $src $version cannot be fetched; building $v" >&2
      echo "$dir"
      return 0
    fi
  done
  rm -rf "$work/fetch"
  echo "setup: cannot fetch the source package $src" >&2
  return 1
}
jpeg_src=$(fetch libjpeg62-turbo-dev) || exit 1
tiff_src=$(fetch libtiff-dev) || exit 1

for t in "${TRIPLETS[@]}"; do
  prefix=$PREFIX_ROOT/$t
  [ "$(cat "$prefix/umbrolux-codecs.stamp" 2>/dev/null)" = "$wanted" ] && continue
  case $t in i686-*) toolchain=$ROOT/cmake/mingw-i686.cmake ;; *) toolchain=$ROOT/cmake/mingw-x86_64.cmake ;; esac
  rm -rf "$prefix" "$work/build-$t"
  mkdir -p "$prefix"
  common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain"
          -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib)

  # libjpeg-turbo: the libjpeg 6.2 interface, as Debian's libjpeg62-turbo;
  # its portable C code (no assembler), which decodes to the same bytes.
  cmake -S "$jpeg_src" -B "$work/build-$t/jpeg" "${common[@]}" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DWITH_ARITH_DEC=ON -DWITH_ARITH_ENC=ON -DWITH_JPEG8=OFF >/dev/null
  cmake --build "$work/build-$t/jpeg" --target jpeg-static -- -j"$(nproc)" >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/build-$t/jpeg/libjpeg.a" "$prefix/lib/libjpeg.a"
  cp "$work/build-$t/jpeg/jconfig.h" "$jpeg_src/jerror.h" "$jpeg_src/jmorecfg.h" "$jpeg_src/jpeglib.h" \
    "$prefix/include/"

  # libtiff: uncompressed, LZW, PackBits, Deflate (zlib), JPEG (the above)
  # and the fax codings, which need nothing more; no tools.
  cmake -S "$tiff_src" -B "$work/build-$t/tiff" "${common[@]}" \
    -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Dcxx=OFF -Djpeg=ON -Dold-jpeg=OFF -Djpeg12=OFF -Dzlib=ON -Dlibdeflate=OFF -Dpixarlog=OFF \
    -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF \
    -DJPEG_INCLUDE_DIR="$prefix/include" -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" \
    -DZLIB_INCLUDE_DIR="/usr/$t/include" -DZLIB_LIBRARY="/usr/$t/lib/libz.a" >/dev/null
  cmake --build "$work/build-$t/tiff" --target tiff -- -j"$(nproc)" >/dev/null
  cp "$work/build-$t/tiff/libtiff/libtiff.a" "$prefix/lib/libtiff.a"
  cp "$tiff_src/libtiff/tiff.h" "$tiff_src/libtiff/tiffio.h" "$work/build-$t/tiff/libtiff/tiffconf.h" \
    "$prefix/include/"
  # tiffvers.h is made by the build in some versions, shipped in others.
  cp "$(ls "$work/build-$t/tiff/libtiff/tiffvers.h" "$tiff_src/libtiff/tiffvers.h" 2>/dev/null | head -n 1)" \
    "$prefix/include/"

  # Their licences, for the release notes.
  mkdir -p "$prefix/share/licenses"
  cp "$jpeg_src/LICENSE.md" "$prefix/share/licenses/libjpeg-turbo-LICENSE.md"
  cp "$jpeg_src/README.ijg" "$prefix/share/licenses/libjpeg-turbo-README.ijg"
  cp "$tiff_src/LICENSE.md" "$prefix/share/licenses/libtiff-LICENSE.md"
  cp /usr/share/doc/libz-mingw-w64/copyright "$prefix/share/licenses/zlib-copyright"
  rm -rf "$work/build-$t"
  printf '%s\n' "$wanted" > "$prefix/umbrolux-codecs.stamp"
  echo "setup: built libjpeg-turbo and libtiff for $t in $prefix"
done

#!/usr/bin/env bash
# scripts/setup.sh's APT steps (scripts/apt-steps.sh) against a local
# repository that plays a Debian mirror: a "bookworm" suite, and a
# "bookworm-security" suite whose update of a Multi-Arch: same library is
# served for amd64 while its i386 index is out of step, as when a mirror is
# caught part-way through a sync.
#
# APT runs on this folder's own sources, lists, cache and dpkg status, and
# installs are simulated: the machine's packages and APT state are untouched.
# No network, no root needed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
REPO=$T/repo

failures=0
pass() { echo "ok - $1"; }
fail() { echo "FAIL - $1"; failures=$((failures + 1)); }
check() {  # description, command...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
contains() { grep -qF -- "$2" <<<"$1"; }
lacks() { ! grep -qF -- "$2" <<<"$1"; }

# --- the packages ----------------------------------------------------------

deb() {  # suite, name, version, architecture, depends, multi-arch
  local dir=$T/src/$2_$3_$4
  mkdir -p "$dir/DEBIAN" "$REPO/pool/$1"
  {
    echo "Package: $2"
    echo "Version: $3"
    echo "Architecture: $4"
    echo "Maintainer: Umbrolux tests <tests@umbrolux.invalid>"
    if [ -n "$5" ]; then echo "Depends: $5"; fi
    if [ -n "$6" ]; then echo "Multi-Arch: $6"; fi
    echo "Description: a package of the set-up's tests"
  } > "$dir/DEBIAN/control"
  dpkg-deb --root-owner-group -Zgzip --build "$dir" "$REPO/pool/$1/$2_$3_$4.deb" >/dev/null
}

# A library in both architectures, updated in security for both; a 64-bit
# and a 32-bit program that use it (as wine64 and wine32:i386 use theirs).
deb bookworm libdemo1 1.0-1 amd64 "" same
deb bookworm libdemo1 1.0-1 i386 "" same
deb bookworm demo64 1.0-1 amd64 libdemo1 ""
deb bookworm demo32 1.0-1 i386 libdemo1 ""
deb security libdemo1 1.0-1+deb12u1 amd64 "" same
deb security libdemo1 1.0-1+deb12u1 i386 "" same

# Writes a suite's indices and its Release file.
publish() {  # codename, suite, pool folder
  local dist=$REPO/dists/$1 arch
  for arch in amd64 i386; do
    mkdir -p "$dist/main/binary-$arch"
    (cd "$REPO" && dpkg-scanpackages -a "$arch" "pool/$3" 2>/dev/null) > "$dist/main/binary-$arch/Packages"
  done
  release "$1" "$2"
}

# Writes a suite's Release file (unsigned: the sources say trusted=yes),
# with the sizes and checksums of the indices it holds now.
release() {  # codename, suite
  local dist=$REPO/dists/$1 f
  {
    echo "Origin: Umbrolux tests"
    echo "Label: Umbrolux tests"
    echo "Suite: $2"
    echo "Codename: $1"
    echo "Date: Sun, 01 Jan 2023 00:00:00 UTC"
    echo "Architectures: amd64 i386"
    echo "Components: main"
    echo "SHA256:"
    for f in main/binary-amd64/Packages main/binary-i386/Packages; do
      echo " $(sha256sum < "$dist/$f" | cut -d ' ' -f 1) $(stat -c %s "$dist/$f") $f"
    done
  } > "$dist/Release"
}
publish bookworm stable bookworm
publish bookworm-security stable-security security

SECURITY_I386=$REPO/dists/bookworm-security/main/binary-i386/Packages
cp "$SECURITY_I386" "$T/security-i386-Packages"
# The i386 index of security no longer matches its Release file.
put_out_of_step() { printf '\n' >> "$SECURITY_I386"; }
put_in_step() { cp "$T/security-i386-Packages" "$SECURITY_I386"; }

# --- APT in a folder of its own ---------------------------------------------

mkdir -p "$T/empty"
# Neither /etc/apt/apt.conf nor /etc/apt/apt.conf.d: the machine's settings
# play no part.
printf 'Dir::Etc::Main "/dev/null";\nDir::Etc::Parts "%s";\n' "$T/empty" > "$T/apt.conf"
export APT_CONFIG=$T/apt.conf

sources() {  # repository folder
  printf 'deb [trusted=yes] file:%s bookworm main\ndeb [trusted=yes] file:%s bookworm-security main\n' \
    "$1" "$1" > "$T/sources.list"
}

# Empty lists and cache, and a dpkg that has nothing installed.
fresh_state() {
  rm -rf "$T/lists" "$T/cache" "$T/state"
  mkdir -p "$T/lists/partial" "$T/cache/archives/partial" "$T/state"
  : > "$T/status"
}

BASE_OPTIONS=(
  -o Dir::Etc::SourceList="$T/sources.list" -o Dir::Etc::SourceParts="$T/empty"
  -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts="$T/empty"
  -o Dir::State="$T/state" -o Dir::State::Lists="$T/lists" -o Dir::State::status="$T/status"
  -o Dir::Cache="$T/cache" -o Dir::Log="$T/state"
  -o APT::Sandbox::User=root -o Debug::NoLocking=true
  -o APT::Get::Simulate=true -o APT::Architecture=amd64 -o APT::Architectures::=amd64
)
# The machine once i386 is added as a foreign architecture.
APT_OPTIONS=("${BASE_OPTIONS[@]}" -o APT::Architectures::=i386)
printf 'VERSION_CODENAME=bookworm\n' > "$T/os-release"
OS_RELEASE_FILE=$T/os-release
APT_REFRESH_TRIES=2

. "$ROOT/scripts/apt-steps.sh"

# Between tries the set-up waits for the mirror; here the test says what
# the mirror does meanwhile.
pauses=0
mirror_meanwhile=:
apt_refresh_pause() { pauses=$((pauses + 1)); $mirror_meanwhile; }

refresh() {  # packages...; sets out and status
  pauses=0
  status=0
  apt_refresh "$@" > "$T/out" 2>&1 || status=$?
  out=$(cat "$T/out")
}

install() {  # packages...; sets out, status and apt_output
  status=0
  apt_install "$@" > "$T/out" 2>&1 || status=$?
  out=$(cat "$T/out")
}

FALLBACK="installing bookworm's own versions"
NOT_REFRESHED="could not be refreshed and are used as they were"

# --- a mirror in step -------------------------------------------------------

echo "# a mirror in step"
sources "$REPO"
fresh_state
refresh demo64 demo32:i386
check "the refresh succeeds at once" test "$status" -eq 0 -a "$pauses" -eq 0
check "it names no index" lacks "$out" "$NOT_REFRESHED"
install demo64 demo32:i386
check "the install succeeds" test "$status" -eq 0
check "without falling back to the release's versions" lacks "$out" "$FALLBACK"
check "with the updated library in both architectures" \
  contains "$apt_output" "Inst libdemo1 (1.0-1+deb12u1"
check "  (i386 too)" contains "$apt_output" "Inst libdemo1:i386 (1.0-1+deb12u1"

# --- security's i386 index out of step --------------------------------------

echo "# security's i386 index out of step, on a machine refreshed before i386 was added"
fresh_state
apt-get "${BASE_OPTIONS[@]}" -qq update >/dev/null
put_out_of_step
refresh demo64 demo32:i386
check "the refresh goes on" test "$status" -eq 0
check "after trying again" test "$pauses" -eq 1
check "it names the index that could not be refreshed" \
  contains "$out" "$NOT_REFRESHED: file:$REPO/dists/bookworm-security/main/binary-i386/Packages"
check "and no other" test "$(grep -o "file:${REPO}[^ ,]*" <<<"$out" | sort -u | wc -l)" -eq 1

# The plain install cannot work here: libdemo1's newest amd64 version has
# no i386 twin. Shown directly, so that the fallback below is needed.
status=0
apt_get_install -- demo64 demo32:i386 || status=$?
check "a plain install fails on held broken packages" \
  test "$status" -ne 0 -a -n "$(grep 'held broken packages' <<<"$apt_output")"
install demo64 demo32:i386
check "the install succeeds" test "$status" -eq 0
check "by falling back to the release's versions, saying so" contains "$out" "$FALLBACK (apt-get install -t bookworm)"
check "with the release's library in both architectures" \
  contains "$apt_output" "Inst libdemo1 (1.0-1 Umbrolux tests:stable [amd64])"
check "  (i386 too)" contains "$apt_output" "Inst libdemo1:i386 (1.0-1 Umbrolux tests:stable [i386])"
check "  and the 32-bit program" contains "$apt_output" "Inst demo32:i386 (1.0-1 Umbrolux tests:stable [i386])"

install -t bookworm-security demo64 demo32:i386
check "an install from a given suite does not fall back" test "$status" -ne 0
check "  (none said)" lacks "$out" "$FALLBACK"
check "  saying what failed" contains "$out" "setup: cannot install demo64 demo32:i386 from bookworm-security"

install demo64 no-such-package
check "a package that does not exist fails the install" test "$status" -ne 0
check "  without a fallback" lacks "$out" "$FALLBACK"
check "  saying so" contains "$out" "setup: cannot install demo64 no-such-package"

# --- the mirror catches up between tries -------------------------------------

echo "# the mirror catches up between tries"
fresh_state
put_out_of_step
mirror_meanwhile=put_in_step
refresh demo64 demo32:i386
mirror_meanwhile=:
check "the second try succeeds" test "$status" -eq 0 -a "$pauses" -eq 1
check "it names no index" lacks "$out" "$NOT_REFRESHED"
install demo64 demo32:i386
check "the install needs no fallback" test "$status" -eq 0
check "  (none said)" lacks "$out" "$FALLBACK"

# --- nothing refreshed --------------------------------------------------------

echo "# no index can be refreshed"
# Both suites published anew: APT fetches the indices whose checksums
# changed in the Release files, and finds each out of step.
for f in "$REPO"/dists/*/main/binary-*/Packages; do printf '\n' >> "$f"; done
release bookworm stable
release bookworm-security stable-security
for f in "$REPO"/dists/*/main/binary-*/Packages; do printf '\n' >> "$f"; done
refresh demo64 demo32:i386
check "with the lists of before, the refresh goes on" test "$status" -eq 0 -a "$pauses" -eq 1
# (APT gives up the rest of a suite's indices after its first failure, in
# an order of its own: how many each suite names varies.)
named=$(grep "$NOT_REFRESHED" <<<"$out" || true)
check "  naming the suites' indices" \
  contains "$named" "file:$REPO/dists/bookworm/main/binary-"
check "  (security too)" contains "$named" "file:$REPO/dists/bookworm-security/main/binary-"
mv "$REPO" "$T/gone"
fresh_state
refresh demo64 demo32:i386
check "with no lists and no mirror, the refresh stops" test "$status" -eq 1 -a "$pauses" -eq 1
check "  naming the packages it cannot find" contains "$out" "APT has no version of: demo64 demo32:i386"

# --- what apt-get update says over HTTP ---------------------------------------

echo "# the indices named in apt-get update's own words"
named=$(apt_failed_indices <<'EOF'
Hit:1 http://deb.debian.org/debian bookworm InRelease
Err:4 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (268912 != 268735). Mirror sync in progress? [IP: 151.101.2.132 80]
Reading package lists...
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/by-hash/SHA256/0f1e  File has unexpected size (268912 != 268735). Mirror sync in progress? [IP: 151.101.2.132 80]
   Hashes of expected file:
    - Filesize:268735 [weak]
W: Failed to fetch http://deb.debian.org/debian/dists/bookworm-updates/InRelease  Temporary failure resolving 'deb.debian.org'
E: Some index files failed to download. They have been ignored, or old ones used instead.
EOF
)
check "a mirror out of step and a network failure" test "$named" = \
"http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/by-hash/SHA256/0f1e
http://deb.debian.org/debian/dists/bookworm-updates/InRelease"
named=$(printf 'Err:2 http://deb.debian.org/debian bookworm InRelease\n  Could not connect\nReading package lists...\n' | apt_failed_indices)
check "the progress report's Err: lines when nothing else names one" \
  test "$named" = "http://deb.debian.org/debian bookworm InRelease"
named=$(printf 'Hit:1 http://deb.debian.org/debian bookworm InRelease\nReading package lists...\n' | apt_failed_indices)
check "none after a good refresh" test -z "$named"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

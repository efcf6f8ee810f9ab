#!/usr/bin/env bash
# Sets up, builds and runs every test: the pure code natively, then the
# built module in the emulated host under Wine.
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"

trap 'stop_wine; stop_xvfb' EXIT
start_xvfb
start_wine

status=0
echo "== native tests"
ctest --test-dir "$BUILD/native" --output-on-failure -j"$(nproc)" || status=1
echo "== fuzzers, a fixed run each"
"$ROOT/scripts/fuzz.sh" || status=1

# A test that fails is run once more, and fails the run only if it fails
# again: a Wine process can, rarely, fail to start at all (it then exits in
# milliseconds with no output), which says nothing about the code under test.
echo "== 64-bit module under Wine, run natively"
ctest --test-dir "$BUILD/win64" --output-on-failure -j"$(nproc)" --repeat until-pass:2 || status=1

if can_run_i386; then
  echo "== 32-bit module under Wine, run $(i386_mode)"
  ctest --test-dir "$BUILD/win32" --output-on-failure -j"$(nproc)" --repeat until-pass:2 || status=1
else
  echo "== 32-bit module: cannot run; this machine executes no 32-bit x86 code and its emulation is not set up (scripts/setup.sh, as root)"
  status=1
fi
exit $status

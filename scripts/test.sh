#!/usr/bin/env bash
# The whole test suite from a fresh Debian 12 machine. With --sanitize, also
# the AddressSanitizer+UBSan run of every test and the ThreadSanitizer run of
# the run engine's tests. The virtual-machine test (tests/vm) runs once, on the
# normal build; QK_WITH_VM=0 leaves it out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QK_WITH_VM=${QK_WITH_VM:-1}
"$root/scripts/deps.sh"
jobs=$(nproc)
# Every ctest call has a time-out (the build sets one per test too): a hanging
# test fails instead of holding the run.

"$root/scripts/build.sh" "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK_BUILD_GUI=ON
ctest --test-dir "$root/build-test" --output-on-failure -j "$jobs" --timeout 300
# The Debian package from the same build: its contents and install scripts.
"$root/scripts/check-package.sh" "$("$root/scripts/package.sh" "$root/build-test")"
if [ "$QK_WITH_VM" = 1 ]; then
  "$root/tests/vm/run_vm_test.sh" "$root/build-test"
fi
# The real window under a virtual display: it must start, run the demo line and draw its verdicts.
"$root/scripts/gui-screenshots.sh" "$root/build-test"

if [ "${1:-}" = "--sanitize" ]; then
  "$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQK_SANITIZE=address -DQK_BUILD_BENCH=OFF -DQK_BUILD_GUI=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" --timeout 900
  "$root/scripts/build.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DQK_SANITIZE=thread -DQK_BUILD_BENCH=OFF
  # The run engine, the bench drives, the record stores and the platform pieces under them carry the threads.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$root/build-tsan" --output-on-failure -j "$jobs" --timeout 900 -L 'run|platform|sim|transport|records'
fi

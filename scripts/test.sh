#!/usr/bin/env bash
# Installs what the tests need, builds three trees (plain, AddressSanitizer + UndefinedBehavior-
# Sanitizer, ThreadSanitizer), starts the private X server, session bus and sound server, and runs
# every test with CTest: all tests in the plain tree; the unit tests and the integration tests that
# run real threads (the only ones the sanitizer trees build) in the sanitizer trees.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-packages.sh"
jobs="$(nproc)"
# A compiler cache makes a second run's builds (another clone of the same sources too) quick.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root"
fi

# Warnings are errors here (with -Wshadow and -Wsign-conversion), never in a plain build of the
# application.
configure() {  # dir, extra cmake arguments...
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOCALYNX_STRICT_WARNINGS=ON "$@" >/dev/null
}
configure "$root/build/tests" -DVOCALYNX_BUILD_BENCHMARKS=ON
configure "$root/build/asan" -DVOCALYNX_SANITIZE=ON -DVOCALYNX_UNIT_ONLY=ON
configure "$root/build/tsan" -DVOCALYNX_TSAN=ON -DVOCALYNX_UNIT_ONLY=ON
cmake --build "$root/build/tests" -j "$jobs"
cmake --build "$root/build/asan" -j "$jobs"
cmake --build "$root/build/tsan" -j "$jobs"

# shellcheck source=test-services.sh
source "$root/scripts/test-services.sh"
trap stop_test_services EXIT
start_test_services

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
mkdir -p "$root/build/artifacts"
status=0
echo "== all tests (plain build) =="
ctest --test-dir "$root/build/tests" --output-on-failure -j "$jobs" || status=1
# Not under either sanitizer: the three that repeat dictations for most of a minute each (ten
# whole-program dictations; a dozen dictations around device changes; dictations across sound-server
# restarts), whose paths the shorter microphone and launch tests take once each, so that CI stays
# well within its time on a loaded machine.
long_repeats='^integration\.AppDictations\.AfterDictationsTheApplicationIdlesAndHoldsNoMore$'
long_repeats+='|^integration\.CaptureEndToEnd\.(EveryShortDictationHearsTheMicrophoneFromItsStart|DictationsSoonAfterTheSoundServerRestartsHearTheWholeOfIt)$'
# Under the address sanitizer every other test runs but the launcher test that lowers the descriptor
# limit to the last free numbers: the undefined-behaviour sanitizer checks an object's dynamic type
# by probing its memory through a pipe of its own, and that test leaves it none.
not_under_asan="$long_repeats"
not_under_asan+='|^integration\.ProcessLauncher\.RunningOutOfDescriptorsAtAnyPipeClosesTheOnesBefore$'
# Under the thread sanitizer every other test runs (the tests start their helper programs, pacat,
# pactl and the whole program, by plain fork and exec, which the sanitizer follows) but the one that
# asks a freshly launched program to hear all of a 0.85 s press in real time, which the sanitizer's
# slowdown makes it miss by a tenth of a second. (Dictations the whole program takes from a player
# proxy's bus call also show Qt D-Bus freeing a message's text with atomics the sanitizer does not
# see; the repeated dictations stay out for their length as well.)
# Also out: the whole dictation through the stand-in, which hands a second of audio to the audio queue
# at once and stops as soon as the last words are shown; under the sanitizer's slowdown on a loaded
# machine the queue is still converting when the stop comes, and the buffers it has not reached by
# then are not sent (26,880 of the 30,000 bytes the test expects, in one loaded run).
not_under_tsan="$long_repeats"
not_under_tsan+='|^integration\.AppDictationsWithADefaultLatencyTone\.'
not_under_tsan+='|^integration\.SpeechPipeline\.AWholeDictationThroughTheStandIn$'
echo "== unit and threaded integration tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs" -E "$not_under_asan" || status=1
echo "== unit and threaded integration tests under ThreadSanitizer =="
ctest --test-dir "$root/build/tsan" --output-on-failure -j "$jobs" -E "$not_under_tsan" || status=1
exit $status

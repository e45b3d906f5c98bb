#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs the whole test suite three times:
# plain, under AddressSanitizer+UBSan, and the threaded tests under ThreadSanitizer.
# After the plain run, installs that build and builds and runs a host against the install.
# Then builds the platform's API-level tests, the control's tests and the download library's
# tests for Windows (the last two for i686 and x86_64) and runs them under Wine, then the minimal
# host and the demo built against the Windows package under Wine, and runs every
# fuzzer for a bounded, repeatable number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
stage() { printf '\n==== %s (at %d s) ====\n' "$*" "$SECONDS"; }
# A build leaves a few hundred megabytes for the kernel to write back. Tests that store pictures
# sync them to disk, and the demo's run is six seconds of wall time: written back while they run,
# the build makes them wait behind it (seen: a download suite 3.5 times slower, a demo run that
# missed its end). So each suite starts on a disk with nothing left to write.
settle() { sync; }

stage "formatting"
bash scripts/check-format.sh

stage "plain build and tests"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs"
settle
ctest --preset debug -j "$jobs"

stage "installed package: minimal host through find_package and pkg-config"
bash scripts/install-check.sh build/debug

# The demo's own optimised build, as scripts/demo.sh makes it: optimisation brings warnings
# (and so -Werror failures) that the debug build never sees.
stage "the demo's optimised build"
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$jobs"

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
settle
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset asan -j "$jobs"

stage "ThreadSanitizer (threaded tests)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
settle
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan -j "$jobs"

stage "platform API tests under Wine (mingw-w64 build)"
bash scripts/wine_tests.sh build/wine

stage "the control's tests under Wine (portrix.dll, i686 and x86_64)"
bash scripts/wine_product_tests.sh build/wine-product build/debug/lib/libportrix.so.0

stage "the download library's tests under Wine (nimbrel.dll, i686 and x86_64, against nginx)"
bash scripts/wine_nimbrel_tests.sh build/wine-nimbrel

stage "the minimal host under Wine (the Windows package through find_package, a picture from nginx)"
# The packages are made from the control's Windows test builds: their objects are reused.
export PORTRIX_PACKAGE_BUILD=build/wine-product
bash scripts/wine_minimal_host.sh build/wine-host

stage "the demo under Wine (built against the same Windows packages, every control where it should end)"
bash scripts/wine_demo.sh build/wine-host

if [ -f fuzz/CMakeLists.txt ]; then
    stage "fuzzing (fixed seed, bounded runs)"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j "$jobs" --target gif_load_fuzzer gif_decode_fuzzer gif_seed_corpus picture_load_fuzzer \
        hive_fuzzer profile_fuzzer base64_fuzzer version_file_fuzzer seed_corpora
    bash fuzz/run.sh build/fuzz
fi
stage "all stages passed"

#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan and runs
# them all once; extra arguments go to ctest (e.g. -R Stat).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ASAN_BUILD_DIR:-$root/build-asan}
scripts/deps.sh

# -O1 and line tables only: fast enough to build and run, still readable stacks. The flags
# replace the Release ones, NDEBUG included, so asserts stay on. The tests' own code is
# compiled at -O0: it is most of the build, and the program's code is what the run checks.
san="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DCMAKE_C_FLAGS_RELEASE="-O1 -g1 $san" -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1 $san" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DMORV_BUILD_BENCH=OFF -DMORV_BUILD_FUZZ=OFF -DMORV_BUILD_TESTS=ON -DMORV_TEST_FLAGS=-O0 >/dev/null

# Test discovery runs the test binary during the build, so the options hold from there on.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
# Left to the main run, to keep CI within its hour: the package check (it builds a .deb of these
# instrumented binaries), the accessibility sweep (names over the desktop bus) and the browser
# pages (the server's code under them runs here through the web tests' own client); the Windows
# build's tests are CI's windows stage.
ctest --test-dir "$build" --output-on-failure -j2 -LE "install|accessibility|browser|windows" "$@"

#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole suite: the normal build,
# then the core tests under AddressSanitizer + UndefinedBehaviorSanitizer, the
# worker tests under ThreadSanitizer, and a bounded run of each fuzz target.
set -eu
cd "$(dirname "$0")"
./scripts/setup.sh

echo "== build"
./scripts/build.sh build
echo "== tests"
ctest --test-dir build -j2 --output-on-failure --timeout 300

echo "== address + undefined sanitizers (core tests)"
./scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUENBELL_GUI=OFF -DQUENBELL_BENCH=OFF \
  "-DQUENBELL_SANITIZE=address;undefined"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j2 --output-on-failure --timeout 600 -L core

./scripts/extra-checks.sh
echo "== all tests passed"

#!/usr/bin/env bash
# Thread sanitizer run of the worker tests and bounded fuzz runs; each part runs
# once the targets it needs exist in the tree.
set -eu
cd "$(dirname "$0")/.."
if grep -q "^quenbell_test" tests/worker/CMakeLists.txt; then
  echo "== thread sanitizer (worker tests)"
  ./scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUENBELL_GUI=OFF -DQUENBELL_BENCH=OFF \
    -DQUENBELL_SANITIZE=thread
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan -j2 --output-on-failure --timeout 600 -L worker
fi
if grep -q "^quenbell_fuzzer" fuzz/CMakeLists.txt && [ -n "$(ls fuzz/*.cpp 2>/dev/null)" ]; then
  echo "== fuzz (address + undefined, bounded)"
  CC=clang CXX=clang++ ./scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=Debug -DQUENBELL_GUI=OFF \
    -DQUENBELL_BENCH=OFF -DQUENBELL_TESTS=OFF -DQUENBELL_FUZZ=ON "-DQUENBELL_SANITIZE=address;undefined"
  for f in build-fuzz/fuzz/*; do
    [ -f "$f" ] && [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus=fuzz/corpus/$name
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
    echo "-- $name"
    "$f" -max_total_time="${FUZZ_SECONDS:-30}" -timeout=10 -rss_limit_mb=2048 "$work" 2>"$work.log" \
      || { tail -40 "$work.log"; rm -rf "$work" "$work.log"; exit 1; }
    tail -1 "$work.log"
    rm -rf "$work" "$work.log"
  done
fi

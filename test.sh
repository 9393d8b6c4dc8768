#!/usr/bin/env bash
# Builds Kestrune Vardomon and runs every test: the concurrency tests under ThreadSanitizer,
# then the whole suite (with short fuzzing runs) under AddressSanitizer and
# UndefinedBehaviorSanitizer. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

JOBS="${JOBS:-2}"
COMMON=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVARDO_WERROR=ON)

echo "== ThreadSanitizer: concurrency tests"
cmake -S . -B build-tsan "${COMMON[@]}" -DVARDO_SANITIZE=thread -DVARDO_BUILD_UI=OFF \
      -DVARDO_TEST_LABEL_ONLY=concurrency >/dev/null
cmake --build build-tsan -j"$JOBS"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -L concurrency --output-on-failure

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: every test"
cmake -S . -B build-asan "${COMMON[@]}" -DVARDO_SANITIZE=address,undefined -DVARDO_BUILD_FUZZ=ON >/dev/null
cmake --build build-asan -j"$JOBS"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
  ctest --test-dir build-asan -j"$JOBS" --output-on-failure

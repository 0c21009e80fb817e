#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [default|asan|tsan] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
shift || true
bash scripts/build.sh "$preset"
dir=build
[ "$preset" = default ] || dir="build-$preset"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "$@"

#!/usr/bin/env bash
# Installs what is missing, then configures and builds one preset (default, asan or tsan): everything,
# or only the targets named in HCS_BUILD_TARGETS (space-separated) and what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/setup-deps.sh
cmake --preset "$preset" >/dev/null
targets=()
for target in ${HCS_BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build --preset "$preset" "${targets[@]}"

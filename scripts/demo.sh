#!/usr/bin/env bash
# Sets up, builds and runs the demo: the reference scoring service, two attribute types, the example
# pairs scored through the loaded plugin. Builds only what the demo runs: the plugin and hcs.
set -euo pipefail
cd "$(dirname "$0")/.."
HCS_BUILD_TARGETS="httpCalloutScoring hcs" bash scripts/build.sh default
./build/tools/hcs/hcs demo "$@"

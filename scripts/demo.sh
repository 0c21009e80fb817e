#!/usr/bin/env bash
# Sets up, builds and runs the demo: the reference scoring service, two attribute types, the example
# pairs scored through the loaded plugin.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
./build/tools/hcs/hcs demo "$@"

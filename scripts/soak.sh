#!/usr/bin/env bash
# Soak: a million score calls on one thread through the loaded plugin, against the in-process reference
# service, and what that did to the resident set size. Growth over 1 MiB means something per call is
# kept (a leak or an unbounded cache). Usage: scripts/soak.sh [calls] (default 1000000).
set -euo pipefail
cd "$(dirname "$0")/.."
calls="${1:-1000000}"
bash scripts/build.sh default >/dev/null
out=$(./build/tools/hcs/hcs bench --calls "$calls" --threads 1 --plugin-only --json)
echo "$out"
read -r start end < <(echo "$out" | sed -n 's/.*"plugin_rss_kib": {"start": \([0-9]*\), "end": \([0-9]*\)}.*/\1 \2/p')
growth=$((end - start))
echo "soak: $calls calls, RSS start ${start} KiB, end ${end} KiB, growth ${growth} KiB (limit 1024 KiB)"
[ "$growth" -le 1024 ] || { echo "soak: RSS grew by more than 1 MiB" >&2; exit 1; }

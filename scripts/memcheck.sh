#!/usr/bin/env bash
# Valgrind memcheck over the plugin side of hcs bench: initPlugin, then score calls (default 10000)
# against a reference service running outside valgrind. Fails on any memory error or on memory
# definitely lost; prints the LEAK SUMMARY. Usage: scripts/memcheck.sh [calls].
set -euo pipefail
cd "$(dirname "$0")/.."
calls="${1:-10000}"
bash scripts/build.sh default >/dev/null
log=$(mktemp)
service_out=$(mktemp)
./build/tools/hcs/hcs serve --port 0 >"$service_out" 2>&1 &
service=$!
trap 'kill "$service" 2>/dev/null || true; wait "$service" 2>/dev/null || true; rm -f "$log" "$service_out"' EXIT
for _ in $(seq 100); do
  url=$(sed -n 's/^listening on \(http[^ ]*\)$/\1/p' "$service_out")
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { echo "memcheck: the reference service did not start" >&2; cat "$service_out" >&2; exit 2; }
status=0
valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=99 \
  --suppressions=scripts/memcheck.supp --log-file="$log" \
  ./build/tools/hcs/hcs bench --url "$url" --calls "$calls" --rounds 1 --threads 1 --plugin-only || status=$?
sed -n '/ERROR SUMMARY\|LEAK SUMMARY/,$p' "$log" | sed 's/^==[0-9]*== //'
if [ "$status" -ne 0 ]; then
  # The records that failed the run: memory errors and definite leaks, not the libraries' statics.
  echo "memcheck: failed (exit $status):" >&2
  awk '/^==[0-9]+== (Invalid|Conditional|Syscall|Mismatched|Source and destination)|definitely lost in/ {p=1}
       p {print} /^==[0-9]+== $/ {p=0}' "$log" >&2
  exit 1
fi
echo "memcheck: $calls calls, no memory errors, nothing definitely lost"

#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each for SECONDS (default 10) on a copy of its
# seed corpus, so new inputs never land in the committed one. Fails when any target finds a crash, a
# sanitizer report, a hang or a leak; the input that did it is kept in fuzz/corpus-work/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"

bash scripts/setup-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# target:dictionary (score documents are XML, so they share its dictionary)
targets=(uri:uri ini:ini xml:xml score:xml numbers: record_diff:xml)
work=fuzz/corpus-work
rm -rf "$work"
mkdir -p "$work"
failed=()
for entry in "${targets[@]}"; do
  target="${entry%%:*}"
  dict="${entry#*:}"
  cp -r "fuzz/corpus/$target" "$work/$target"
  args=(-max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$work/$target-")
  [ -n "$dict" ] && args+=(-dict="fuzz/dict/$dict.dict")
  log="$work/$target.log"
  start=$(date +%s)
  result=ok
  "build-fuzz/fuzz/fuzz_$target" "${args[@]}" "$work/$target" >"$log" 2>&1 || result=FAILED
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
  printf 'fuzz: %-11s %10s runs in %4d s, %-20s %s\n' "$target" "${runs:-?}" "$elapsed" "${coverage:-cov: ?}" "$result"
  if [ "$result" != ok ]; then
    failed+=("$target")
    grep -E -m 20 'ERROR|runtime error|SUMMARY|disagree|ours:|theirs:|Test unit written' "$log" | sed 's/^/    /' || true
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]} (logs and inputs in $work/)"
  exit 1
fi
echo "fuzz: no findings"

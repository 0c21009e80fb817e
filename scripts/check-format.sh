#!/usr/bin/env bash
# Fails when a tracked C/C++ file is not as clang-format 14 writes it with the repository's .clang-format:
# lists those files and the first differences. Other clang-format versions format differently, so only
# 14 is used. Fix with: git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 -i
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || true)
if [ -z "$format" ]; then
  echo "check-format: clang-format-14 is missing (bash scripts/setup-deps.sh)" >&2
  exit 2
fi

mapfile -d '' files < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp')
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if "$format" --dry-run --Werror --style=file "${files[@]}" 2>"$report"; then
  echo "check-format: ${#files[@]} files as clang-format 14 writes them"
  exit 0
fi
mapfile -t drifted < <(sed -n 's/^\([^: ]*\):[0-9]*:[0-9]*: error: .*/\1/p' "$report" | sort -u)
echo "check-format: ${#drifted[@]} of ${#files[@]} files differ from clang-format 14:" >&2
printf '  %s\n' "${drifted[@]}" >&2
echo "check-format: the first differences:" >&2
head -n 30 "$report" >&2
exit 1

#!/usr/bin/env bash
# Fails, naming the files, when any C++ source under version control differs from what
# clang-format makes of it with the committed .clang-format. `--fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
unformatted=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if ((${#unformatted[@]} > 0)); then
  echo "Not formatted as .clang-format says (scripts/check-format.sh --fix formats them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "== format: ${#files[@]} files as .clang-format says"

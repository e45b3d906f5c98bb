#!/usr/bin/env bash
# Checks that every C++ file in the repository follows .clang-format; lists those that do not.
# Usage: check-format.sh [--fix]   (--fix rewrites them in place instead)
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format || command -v clang-format-14 || true)
[ -n "$formatter" ] || { echo "check-format: clang-format is not installed (Debian package clang-format)" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    "$formatter" -i "${files[@]}"
    exit 0
fi
unformatted=()
for file in "${files[@]}"; do
    "$formatter" --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "check-format: ${#unformatted[@]} of ${#files[@]} files do not follow .clang-format" \
         "(scripts/check-format.sh --fix rewrites them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "check-format: all ${#files[@]} files follow .clang-format"

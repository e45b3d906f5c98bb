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
# One run over every file; each place it would change is reported as "file:line:col: error".
report=$("$formatter" --dry-run -Werror "${files[@]}" 2>&1) && status=0 || status=$?
mapfile -t unformatted < <(grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u)
if [ "$status" -ne 0 ] || [ ${#unformatted[@]} -gt 0 ]; then
    if [ ${#unformatted[@]} -eq 0 ]; then
        echo "check-format: clang-format failed:" >&2
        echo "$report" >&2
        exit 1
    fi
    echo "check-format: ${#unformatted[@]} of ${#files[@]} files do not follow .clang-format" \
         "(scripts/check-format.sh --fix rewrites them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "check-format: all ${#files[@]} files follow .clang-format"

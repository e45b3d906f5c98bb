#!/usr/bin/env bash
# portrix.dll exports what libportrix.so exports, member for member. The Linux library also
# exports the implicit copy operations of CAvatarDownload (on Windows they belong to nimbrel.dll,
# whose class portrix.dll imports) and the type information's name (mingw's runtime compares
# type information by the text of the name, which the exported type information points to).
# Usage: compare_exports.sh portrix.dll libportrix.so
set -eu
windows=$(objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p' | sed 's/@[0-9]*$//' | c++filt | sort)
linux=$(nm -DC --defined-only "$2" | sed 's/^[0-9a-f]* [A-Za-z] //' |
    grep -v -e '^CAvatarDownload::' -e '^typeinfo name for ' | sort)
if [ "$windows" != "$linux" ]; then
    echo "portrix.dll and libportrix.so export different members:"
    diff <(printf '%s\n' "$linux") <(printf '%s\n' "$windows") | sed 's/^</  only on Linux:/; s/^>/  only on Windows:/' | grep only
    exit 1
fi
echo "portrix.dll exports the $(printf '%s\n' "$windows" | wc -l) members libportrix.so does"

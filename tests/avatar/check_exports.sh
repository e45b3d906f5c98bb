#!/bin/sh
# libportrix exports CPortrix (members, message map, type information, virtual table) and the
# copy operations of CAvatarDownload, and nothing else.
# Usage: check_exports.sh path/to/libportrix.so
set -eu
symbols=$(nm -DC --defined-only "$1" | sed 's/^[0-9a-f]* [A-Za-z] //')
status=0
unexpected=$(printf '%s\n' "$symbols" | grep -v -e '^CPortrix::' -e '^typeinfo for CPortrix$' \
    -e '^typeinfo name for CPortrix$' -e '^vtable for CPortrix$' \
    -e '^CAvatarDownload::CAvatarDownload(CAvatarDownload const&)$' \
    -e '^CAvatarDownload::operator=(CAvatarDownload const&)$' || true)
if [ -n "$unexpected" ]; then
    echo "exported but not part of the interface:"; echo "$unexpected"; status=1
fi
for wanted in 'CPortrix::CPortrix()' 'CPortrix::~CPortrix()' 'CPortrix::Display()' 'CPortrix::DisplaySN()' \
    'CPortrix::DisplaywithDownload()' 'CPortrix::GetDefaultImg()' 'CPortrix::OnlyDisplay()' \
    'CPortrix::WriteVersionFile()' 'CPortrix::OnTimer(unsigned int)' 'CPortrix::OnMouseMove(unsigned int, long)' \
    'CPortrix::ChangeBgImg(HDC__*, int const&)' 'CPortrix::AttachMouseEventHook(IMouseEventHook*)' \
    'CPortrix::GetMessageMap() const' 'CPortrix::_GetBaseMessageMap()' 'CPortrix::messageMap' \
    'CPortrix::_messageEntries' 'vtable for CPortrix' 'CAvatarDownload::operator=(CAvatarDownload const&)' \
    'CAvatarDownload::CAvatarDownload(CAvatarDownload const&)'; do
    if ! printf '%s\n' "$symbols" | grep -qxF "$wanted"; then
        echo "missing export: $wanted"; status=1
    fi
done
exit $status

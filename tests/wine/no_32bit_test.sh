#!/usr/bin/env bash
# On a machine whose kernel cannot run 32-bit programs, the sessions of the 32-bit suites (a
# win32 prefix, and WOW64 in a win64 prefix) end at start with exit 77, CTest's skip, and one
# line that says so. Such a kernel is stood in for by a 32-bit loader it refuses to execute.
#   no_32bit_test.sh SCRATCH_DIR
set -u
scratch=$1
session=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-session
rm -rf "$scratch" && mkdir -p "$scratch"
printf '\177ELF\001\001\001' >"$scratch/wine" && chmod +x "$scratch/wine"
status=0
for arch in win32 wow64; do
    wow64=""
    [ "$arch" = wow64 ] && wow64=1
    out=$(TLM_WINE32_LOADER="$scratch/wine" TLM_WINEPREFIX="$scratch/$arch" TLM_WINE_WOW64=$wow64 \
        TLM_WINEARCH=${arch/wow64/win64} "$session" start 2>&1)
    rc=$?
    if [ "$rc" -eq 77 ] && [ "$(wc -l <<<"$out")" -eq 1 ] && grep -q "cannot run 32-bit programs" <<<"$out"; then
        echo "ok: $arch: $out"
    else
        echo "FAIL: $arch: expected exit 77 and one line about 32-bit programs, got exit $rc:"
        echo "$out"
        status=1
    fi
done
rm -rf "$scratch"
exit $status

#!/usr/bin/env bash
# tlmsimctl install / uninstall in a scratch Wine prefix, seen through the program itself and
# through the service control manager (sc query): before install the simulator is missing
# (exit 3), after install it answers, after uninstall it is gone again.
#   install_test.sh TLMSIMCTL.EXE TLMSIM.SYS PREFIX      (PREFIX is made afresh and removed)
set -uo pipefail
exe=$1 sys=$2 prefix=$3
session=$(cd "$(dirname "$0")/../.." && pwd)/tools/wine-session
# The session must not install the driver itself: that is the job under test.
export TLM_WINEPREFIX=$prefix TLM_SIM_DRIVER=/nonexistent/tlmsim.sys
rm -rf "$prefix"
out=$("$session" start 2>&1)
rc=$?
[ "$rc" != 77 ] || { echo "$out"; exit 77; }  # the machine cannot run this prefix's programs: skipped
[ "$rc" = 0 ] || { echo "FAIL: no Wine session for $prefix"; exit 1; }
trap '"$session" stop; rm -rf "$prefix"' EXIT
mkdir -p "$prefix/drive_c/tlmsim"
cp "$exe" "$sys" "$prefix/drive_c/tlmsim/"

status=0
# check WANT_EXIT TEXT PROGRAM ARGS...: the exit code and a piece of the output.
check() {
    local want=$1 text=$2 out rc
    shift 2
    out=$("$session" run "$@" </dev/null 2>&1 | tr -d '\r')
    rc=${PIPESTATUS[0]}
    if [ "$rc" = "$want" ] && grep -qF -- "$text" <<<"$out"; then
        echo "ok: $* -> exit $rc"
    else
        echo "FAIL: $*: expected exit $want and \"$text\", got exit $rc:"
        echo "$out" | sed 's/^/    /'
        status=1
    fi
}
ctl='C:\tlmsim\tlmsimctl.exe'
check 3 "tlmsimctl install" "$ctl" status
check 0 'installed from C:\tlmsim\tlmsim.sys and running' "$ctl" install
check 0 "RUNNING" sc query tlmsim
check 0 "boards: 1" "$ctl" status
check 0 "was installed already" "$ctl" install
check 0 "stopped and removed" "$ctl" uninstall
check 1 "" sc query tlmsim
check 3 "not running" "$ctl" status
check 0 "not installed" "$ctl" uninstall
exit $status

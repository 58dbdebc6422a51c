#!/usr/bin/env bash
# Runs a Windows program under wine64, quietly and without a display, in a prefix of its own:
#
#   wine.sh --prefix DIR [--dll-dir DIR]... PROGRAM [ARGUMENT]...
#   wine.sh --prefix DIR --session COMMAND [ARGUMENT]...
#
# The prefix is made on first use (what wine says while making it goes to DIR.log); no debug
# channel writes, no installer of Mono or Gecko is offered, and the program finds DLLs in the
# --dll-dir folders besides its own. With --session, COMMAND (a Linux command, ctest for
# instance) runs while one wine session is kept up, so that the programs it runs through this
# script start in a fraction of a second instead of starting wine's services each time.
set -euo pipefail

prefix=
path=
session=
while [[ $# -gt 0 ]]; do
    case $1 in
    --prefix) prefix=$2; shift 2 ;;
    --dll-dir) path+="${path:+;}$2"; shift 2 ;;
    --session) session=1; shift ;;
    *) break ;;
    esac
done
if [[ -z $prefix || $# -eq 0 ]]; then
    echo "usage: wine.sh --prefix DIR [--dll-dir DIR]... PROGRAM [ARGUMENT]..." >&2
    echo "       wine.sh --prefix DIR --session COMMAND [ARGUMENT]..." >&2
    exit 2
fi

prefix=$(realpath -m "$prefix") # wine takes only an absolute path
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH=$path
unset DISPLAY WAYLAND_DISPLAY

if [[ ! -f $prefix/system.reg ]]; then
    mkdir -p "$(dirname "$prefix")"
    # One run makes the prefix; runs started meanwhile wait for it.
    exec 9>"$prefix.lock"
    flock 9
    if [[ ! -f $prefix/system.reg ]]; then
        "$wine" wineboot --init >"$prefix.log" 2>&1
        "$wineserver" -w
    fi
    exec 9>&-
fi

if [[ -z $session ]]; then
    exec "$wine" "$@"
fi
# A command prompt that reads its commands from us keeps the session up until we close it. The
# session's services start before COMMAND runs anything, from a program whose output goes
# nowhere: started by one of COMMAND's programs, they would hold its output open (ctest would
# wait on a finished test until its time-out).
exec {keeper}> >("$wine" cmd.exe >/dev/null 2>&1 </dev/null)
"$wine" cmd.exe /c exit >/dev/null 2>&1 </dev/null
status=0
"$@" || status=$?
exec {keeper}>&-
"$wineserver" -w
exit "$status"

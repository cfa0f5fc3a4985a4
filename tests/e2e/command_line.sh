#!/usr/bin/env bash
# --help, --version; exit code 2 for an unknown option or a missing --data directory; --start hosts.
source "$(dirname "$0")/lib.sh"

# (Whole outputs are read first: grep -q may close a pipe before the server has written it all.)
[[ "$("$SERVER" --help)" == *--headless* ]] || fail "--help does not describe the options"
[[ "$("$SERVER" --version)" == "emberrealms-server "* ]] || fail "--version"
for args in "--frobnicate" "--data $WORK/missing --headless"; do
    # shellcheck disable=SC2086
    "$SERVER" $args 2>>"$WORK/err" </dev/null && rc=0 || rc=$?
    [ "$rc" = 2 ] || fail "$args gave $rc"
done
grep -q "unknown option '--frobnicate'" "$WORK/err" || fail "no message for an unknown option"
grep -q "$WORK/missing" "$WORK/err" || fail "the message must name the directory"

mkdir "$WORK/world"
printf '[EmberRealms]\nEmberRealms Server Port=0\n' >"$SETTINGS"
start_server pipe --headless --data "$WORK/world" --start
status_until '[ "$(status_value "Server Status:")" = "Server started." ]'
# The UDP ports of the sockets the server holds.
inodes=" $(find "/proc/$SERVER_PID/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
ports=$(awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "0x", $2); print $2 }' /proc/net/udp /proc/net/udp6)
[ -n "$ports" ] || fail "no UDP port held while hosting"
# shellcheck disable=SC2086
printf '%d\n' $ports | grep -qx 25857 && fail "port 0 must not bind the default port"
stop_server exit
[ -f "$WORK/world/ErrorChk.txt" ] || fail "the debug log must be written in the data directory"
echo PASS

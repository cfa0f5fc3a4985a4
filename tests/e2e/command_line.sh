#!/usr/bin/env bash
# Options: help and version succeed; an unknown option or a missing data directory is a
# clear error with exit code 2; --data runs the server in that directory; --start hosts.
source "$(dirname "$0")/lib.sh"

# (Whole outputs are read first: grep -q may close a pipe before the server has written it all.)
[[ "$("$SERVER" --help)" == *--headless* ]] || fail "--help does not describe the options"
[[ "$("$SERVER" --version)" == "emberrealms-server "* ]] || fail "--version"
for args in "--frobnicate" "--data $WORK/missing --headless"; do
    rc=0
    # shellcheck disable=SC2086
    "$SERVER" $args 2>>"$WORK/err" </dev/null || rc=$?
    [ "$rc" = 2 ] || fail "$args gave $rc"
done
grep -q "unknown option '--frobnicate'" "$WORK/err" || fail "no message for an unknown option"
grep -q "$WORK/missing" "$WORK/err" || fail "the message must name the directory"

# --start hosts at once, here on a port the system chooses (0 in the settings).
mkdir "$WORK/world"
printf '[EmberRealms]\nEmberRealms Server Port=0\n' >"$SETTINGS"
start_server pipe --headless --data "$WORK/world" --start
status_until '[ "$(status_value "Server Status:")" = "Server started." ]'
ports=$(udp_ports)
[ -n "$ports" ] || fail "no UDP port held while hosting"
grep -qx 25857 <<<"$ports" && fail "port 0 must not bind the default port"
stop_server exit
[ -f "$WORK/world/ErrorChk.txt" ] || fail "the debug log must be written in the data directory"
echo PASS

#!/usr/bin/env bash
# Options: help and version succeed; an unknown option or a missing data directory is a
# clear error with exit code 2; --data runs the server in that directory.
source "$(dirname "$0")/lib.sh"

"$SERVER" --help | grep -q -- '--headless' || fail "--help does not describe the options"
"$SERVER" --version | grep -q '^emberrealms-server ' || fail "--version"
set +e
"$SERVER" --frobnicate 2>"$WORK/err"; rc=$?
set -e
[ "$rc" = 2 ] || fail "unknown option gave $rc"
grep -q "unknown option '--frobnicate'" "$WORK/err" || fail "no message for an unknown option"
set +e
"$SERVER" --data "$WORK/missing" --headless 2>"$WORK/err" </dev/null; rc=$?
set -e
[ "$rc" = 2 ] || fail "missing data directory gave $rc"
grep -q "missing" "$WORK/err" || fail "the message must name the directory"

mkdir "$WORK/world"
start_headless --data "$WORK/world" --start
send exit
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC"
[ -f "$WORK/world/ErrorChk.txt" ] || fail "the debug log must be written in the data directory"
echo PASS

#!/usr/bin/env bash
# The console window (on Qt's offscreen platform, which needs no display) starts, runs its
# timers and shuts down in order on SIGTERM.
source "$(dirname "$0")/lib.sh"

QT_QPA_PLATFORM=offscreen "$SERVER" </dev/null >"$WORK/stdout" 2>"$WORK/stderr" &
SERVER_PID=$!
sleep 1
kill -0 "$SERVER_PID" || fail "the window server stopped: $(cat "$WORK/stderr")"
kill -TERM "$SERVER_PID"
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC"
grep -qx 'Session Name=Ember Realms Game' "$SETTINGS" || fail "settings not written"
grep -q 'WinMain: Reading Values from Registry' ErrorChk.txt || fail "start-up did not run"
echo PASS

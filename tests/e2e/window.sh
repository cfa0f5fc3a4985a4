#!/usr/bin/env bash
# The console window (on Qt's offscreen platform, which needs no display) starts, runs its
# timers and shuts down in order on SIGTERM.
source "$(dirname "$0")/lib.sh"

QT_QPA_PLATFORM=offscreen start_server /dev/null
wait_started
wait_loop_turns
kill -TERM "$SERVER_PID"
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC: $(cat "$WORK/stderr")"
grep -qx 'Session Name=Ember Realms Game' "$SETTINGS" || fail "settings not written"
echo PASS

#!/usr/bin/env bash
# A headless server in an empty directory, stopped by SIGTERM: it logs its start-up in order,
# keeps running past the end of its standard input, exits with 0 and writes both settings back
# with their defaults. The console window (on Qt's offscreen platform) stops so on SIGINT.
source "$(dirname "$0")/lib.sh"

start_server /dev/null --headless
wait_started
wait_loop_turns
kill -TERM "$SERVER_PID"
stop_server
expected=$(printf '%s\n' \
    "EmberRealms error checking file initialised..." \
    "" \
    "WinMain: Initialising Night/Day" \
    "WinMain: Initialising CRandom Class" \
    "WinMain: Initialising Game Weather" \
    "WinMain: Initialising Main Object Set" \
    "WinMain: Initialising Quest Loader" \
    "WinMain: Loading map File" \
    "WinMain: Reading Values from Registry")
# Without the quest loader's own lines; its "QST file not found!" ends with a line break.
actual=$(sed -e '/^LoadQuest/{N;d;}' -e '/^CServer/d' ErrorChk.txt)
[ "$actual" = "$expected" ] || fail "unexpected debug log"
[ -z "$(tail -c 1 ErrorChk.txt)" ] && fail "the log must not end with a newline"
grep -qx 'Session Name=Ember Realms Game' "$SETTINGS" || fail "session name not written: $(cat "$SETTINGS")"
grep -qx 'EmberRealms Server Port=25857' "$SETTINGS" || fail "port not written: $(cat "$SETTINGS")"
[ -s "$SERVER_OUT" ] && fail "headless server printed: $(cat "$SERVER_OUT")"

rm -f "$SETTINGS" ErrorChk.txt
QT_QPA_PLATFORM=offscreen start_server /dev/null
wait_started
wait_loop_turns
kill -INT "$SERVER_PID"
stop_server
grep -qx 'EmberRealms Server Port=25857' "$SETTINGS" || fail "port not written by the window"
echo PASS

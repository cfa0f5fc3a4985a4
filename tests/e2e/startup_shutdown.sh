#!/usr/bin/env bash
# A headless server in an empty directory, stopped by SIGTERM: it logs its start-up in order,
# keeps running past the end of its standard input, exits with 0 and writes both settings back
# with their defaults.
source "$(dirname "$0")/lib.sh"

start_server /dev/null --headless
wait_started
wait_loop_turns
kill -TERM "$SERVER_PID"
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC after SIGTERM"

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
# The quest loader's own lines (no quest file here); its "QST file not found!" line ends with a
# line break of its own, so the empty line after it goes too.
actual=$(sed -e '/^LoadQuest/{N;d;}' -e '/^CServer/d' ErrorChk.txt)
[ "$actual" = "$expected" ] || fail "unexpected debug log"
[ -z "$(tail -c 1 ErrorChk.txt)" ] && fail "the log must not end with a newline"

grep -qx 'Session Name=Ember Realms Game' "$SETTINGS" || fail "session name not written: $(cat "$SETTINGS")"
grep -qx 'EmberRealms Server Port=25857' "$SETTINGS" || fail "port not written: $(cat "$SETTINGS")"
[ -s "$SERVER_OUT" ] && fail "headless server printed: $(cat "$SERVER_OUT")"

# SIGINT takes the same path.
rm -f "$SETTINGS" ErrorChk.txt
start_server /dev/null --headless
wait_started
kill -INT "$SERVER_PID"
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC after SIGINT"
grep -qx 'EmberRealms Server Port=25857' "$SETTINGS" || fail "port not written after SIGINT"
echo PASS

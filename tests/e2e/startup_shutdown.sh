#!/usr/bin/env bash
# Headless on SIGTERM and the console window (Qt offscreen) on SIGINT: start-up logged in order,
# exit 0, both settings written back with their defaults; headless prints nothing.
source "$(dirname "$0")/lib.sh"

for sig in TERM INT; do
    rm -f "$SETTINGS" ErrorChk.txt
    if [ $sig = TERM ]; then start_server /dev/null --headless; else QT_QPA_PLATFORM=offscreen start_server /dev/null; fi
    wait_until "grep -qs 'WinMain: Reading Values from Registry' ErrorChk.txt"
    # Ten more wakes of the main thread (its 50 ms timer) show its event loop runs.
    turns="awk '/^voluntary_ctxt_switches/ { print \$2 }' /proc/$SERVER_PID/task/$SERVER_PID/status"
    wait_until "[ \"\$($turns)\" -ge $(($(eval "$turns") + 10)) ]"
    kill -$sig "$SERVER_PID"
    stop_server
    expected=$(printf '%s\n' "EmberRealms error checking file initialised..." "" "WinMain: Initialising Night/Day" \
        "WinMain: Initialising CRandom Class" "WinMain: Initialising Game Weather" \
        "WinMain: Initialising Main Object Set" "WinMain: Initialising Quest Loader" \
        "WinMain: Loading map File" "WinMain: Reading Values from Registry")
    # Without the quest loader's own lines; its "QST file not found!" ends with a line break.
    [ "$(sed -e '/^LoadQuest/{N;d;}' -e '/^CServer/d' ErrorChk.txt)" = "$expected" ] || fail "$sig: debug log"
    [ -z "$(tail -c 1 ErrorChk.txt)" ] && fail "the log must not end with a newline"
    grep -qx 'Session Name=Ember Realms Game' "$SETTINGS" || fail "$sig: name not written: $(cat "$SETTINGS")"
    grep -qx 'EmberRealms Server Port=25857' "$SETTINGS" || fail "$sig: port not written: $(cat "$SETTINGS")"
    [ $sig = INT ] || [ ! -s "$SERVER_OUT" ] || fail "headless server printed: $(cat "$SERVER_OUT")"
done
echo PASS

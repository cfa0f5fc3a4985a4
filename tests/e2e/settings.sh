#!/usr/bin/env bash
# Stored settings are shown by the console and written back unchanged; a name too long for
# its buffer reads as the default; without a window nothing is written.
source "$(dirname "$0")/lib.sh"

printf '[General]\nSession Name=Dragon Keep\nEmberRealms Server Port=0\n' >"$SETTINGS"
start_headless
status
[ "$(status_value 'Session Name:')" = "Dragon Keep" ] || fail "stored name not shown"
[ "$(status_value 'Port Number:')" = "" ] || fail "port 0 must show an empty field"
send "set session Edited But Never Started"
send exit
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC"
grep -qx 'Session Name=Dragon Keep' "$SETTINGS" || fail "name not written back: $(cat "$SETTINGS")"
grep -qx 'EmberRealms Server Port=0' "$SETTINGS" || fail "port not written back"

# 259 characters fit the 260-byte buffer with their terminator; 260 do not.
name259=$(printf 'n%.0s' $(seq 1 259))
for name in "$name259" "${name259}x"; do
    printf '[General]\nSession Name=%s\n' "$name" >"$SETTINGS"
    start_headless
    status
    [ ${#name} = 259 ] && expected=$name || expected="Ember Realms Game"
    [ "$(status_value 'Session Name:')" = "$expected" ] || fail "a ${#name}-character name"
    send exit
    wait_server
done

# A window that cannot be created ends the program with 0 and writes no settings.
rm -f "$SETTINGS"
rc=0
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 "$SERVER" >/dev/null 2>&1 </dev/null || rc=$?
[ "$rc" = 0 ] || fail "exit code $rc without a usable display"
grep -q 'Session Name' "$SETTINGS" 2>/dev/null && fail "settings written although no window was created"
grep -q 'WinMain: Reading Values from Registry' ErrorChk.txt || fail "start-up did not run"
echo PASS

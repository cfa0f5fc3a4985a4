#!/usr/bin/env bash
# The console shows stored settings, the advancing clock and a rain it starts (logged with the
# game time); headless writes them back unchanged; a name too long for its buffer reads as the default.
source "$(dirname "$0")/lib.sh"

printf '[General]\nSession Name=Dragon Keep\nEmberRealms Server Port=0\n' >"$SETTINGS"
start_server pipe --headless
status_until '[ "$(status_value "Game Time:")" != "0:00" ]'
[ "$(status_value 'Session Name:')" = "Dragon Keep" ] || fail "stored name not shown"
[ "$(status_value 'Port Number:')" = "" ] || fail "port 0 must show an empty field"
[ "$(status_value 'Time Delta:')" != "0" ] || fail "Time Delta not refreshed"
[ "$(status_value 'Is it Raining?:')" = "No" ] || fail "raining before any rain"
first=$(status_value 'Game Time:')
send "set session Edited But Never Started"
send "rain 99"
status_until '[ "$(status_value "Game Time:")" != "$first" ] && [ "$(status_value "Rain Volume:")" != "0.000" ]'
[ "$(status_value 'Is it Raining?:')" = "Yes" ] || fail "rain not shown"
stop_server exit
grep -qx 'Session Name=Dragon Keep' "$SETTINGS" || fail "name not written back: $(cat "$SETTINGS")"
grep -qx 'EmberRealms Server Port=0' "$SETTINGS" || fail "port not written back"
grep -A3 '^It Rained at:$' ErrorChk.txt | tail -n 3 | tr '\n' '|' | grep -Eqx '[0-9]+ : +[0-9]+\|On Day:\|0\|' ||
    fail "rain log without the game time and day"

# 259 characters fit the 260-byte buffer with their terminator; 260 do not.
name259=$(printf 'n%.0s' $(seq 1 259))
for name in "$name259" "${name259}x"; do
    printf '[General]\nSession Name=%s\n' "$name" >"$SETTINGS"
    start_server pipe --headless
    status
    [ ${#name} = 259 ] && expected=$name || expected="Ember Realms Game"
    [ "$(status_value 'Session Name:')" = "$expected" ] || fail "a ${#name}-character name"
    stop_server exit
done

# A window that cannot be created ends the program with 0 and writes no settings.
rm -f "$SETTINGS"
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 "$SERVER" >/dev/null 2>&1 </dev/null ||
    fail "exit code $? without a usable display"
grep -q 'Session Name' "$SETTINGS" 2>/dev/null && fail "settings written although no window was created"
grep -q 'WinMain: Reading Values from Registry' ErrorChk.txt || fail "start-up did not run"
echo PASS

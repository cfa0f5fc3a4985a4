#!/usr/bin/env bash
# The terminal console shows the clock advancing, and a rain started from the console is
# logged with the game time.
source "$(dirname "$0")/lib.sh"

start_headless
status_until '[ "$(status_value "Game Time:")" != "0:00" ]'
first=$(status_value 'Game Time:')
[ "$(status_value 'Time Delta:')" != "0" ] || fail "Time Delta not refreshed"
[ "$(status_value 'Is it Raining?:')" = "No" ] || fail "raining before any rain"

send "rain 99"
status_until '[ "$(status_value "Game Time:")" != "$first" ] && [ "$(status_value "Rain Volume:")" != "0.000" ]'
[ "$(status_value 'Is it Raining?:')" = "Yes" ] || fail "rain not shown"

send exit
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC"
grep -A4 '^It Rained at:$' ErrorChk.txt >"$WORK/rain"
[ "$(sed -n 3p "$WORK/rain")" = "On Day:" ] || fail "rain log lines out of order"
sed -n 2p "$WORK/rain" | grep -Eq '^[0-9]+ : +[0-9]+$' || fail "rain log without the game time"
[ "$(sed -n 4p "$WORK/rain")" = "0" ] || fail "rain log without the day"
echo PASS

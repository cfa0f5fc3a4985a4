#!/usr/bin/env bash
# The terminal console shows the clock advancing, and a rain started from the console is
# logged with the game time.
source "$(dirname "$0")/lib.sh"

start_headless
sleep 1.4
send status
wait_output '^Game Time'
first=$(status_value 'Game Time:')
[ "$first" != "0:00" ] || fail "the clock has not stepped after a second"
[ "$(status_value 'Time Delta:')" != "0" ] || fail "Time Delta not refreshed"
[ "$(status_value 'Is it Raining?:')" = "No" ] || fail "raining before any rain"

send "rain 99"
sleep 0.8
: >"$SERVER_OUT"
send status
wait_output '^New Rain Volume'
second=$(status_value 'Game Time:')
[ "$second" != "$first" ] || fail "the clock did not advance ($first)"
[ "$(status_value 'Is it Raining?:')" = "Yes" ] || fail "rain not shown"
volume=$(status_value 'Rain Volume:')
[ "$volume" != "0.000" ] || fail "the rain volume did not rise"

send exit
wait_server
[ "$SERVER_RC" = 0 ] || fail "exit code $SERVER_RC"
grep -A4 '^It Rained at:$' ErrorChk.txt >"$WORK/rain"
[ "$(sed -n 3p "$WORK/rain")" = "On Day:" ] || fail "rain log lines out of order"
sed -n 2p "$WORK/rain" | grep -Eq '^[0-9]+ : +[0-9]+$' || fail "rain log without the game time"
[ "$(sed -n 4p "$WORK/rain")" = "0" ] || fail "rain log without the day"
echo PASS

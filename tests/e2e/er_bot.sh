#!/usr/bin/env bash
# er-bot against the real server on a port the system chooses: enumeration answers from the
# game port, two players who see each other join, tag, chat, ask an NPC and leave, refused
# and failed joins, usage errors, and two short load runs.
source "$(dirname "$0")/lib.sh"
BOT=${2:?usage: er_bot.sh PATH-TO-SERVER PATH-TO-ER-BOT}

host_world 'Session Name=Bot "Test" \xc3\xa9\n'

# Usage errors: exit 2 with the reason.
for args in "" "frob" "enum" "join 127.0.0.1" "load 127.0.0.1 --players 0 --duration 1" \
    "enum 127.0.0.1:99999" "join 127.0.0.1 --name A --rate 5"; do
    # shellcheck disable=SC2086
    "$BOT" $args >/dev/null 2>"$WORK/usage" && rc=0 || rc=$?
    [ "$rc" = 2 ] || fail "'$args' gave $rc"
    grep -q "^er-bot: .*" "$WORK/usage" || fail "'$args' did not say why"
done
[[ "$("$BOT" --help)" == *"er-bot load HOST[:PORT] --players N --duration S"* ]] || fail "--help"

# Enumeration: the session's name, players and the port the answer came from.
enum=$("$BOT" enum "127.0.0.1:$PORT") || fail "enum gave $?"
[[ "$enum" =~ ^Session\ name=\"Bot\ \\\"Test\\\"\ é\"\ players=1/unlimited\ instance=\{[0-9A-F-]{36}\}\ from=127\.0\.0\.1:$PORT$ ]] ||
    fail "enum printed: $enum"

# Joins that fail: another application is refused, a closed port answers nothing.
"$BOT" join "127.0.0.1:$PORT" --name X --application '{00000000-0000-0000-0000-000000000001}' \
    </dev/null >/dev/null 2>"$WORK/refused" && fail "a refused join must fail"
grep -qx "er-bot: the host refused the join: CONNECT_FAILED 0x80158300 (DPNERR_INVALIDAPPLICATION)" \
    "$WORK/refused" || fail "refused join said: $(cat "$WORK/refused")"
"$BOT" join 127.0.0.1:1 --name X </dev/null >/dev/null 2>"$WORK/closed" && fail "a join to a closed port must fail"
grep -qx "er-bot: no game server at 127.0.0.1:1 (port closed)" "$WORK/closed" ||
    fail "closed port said: $(cat "$WORK/closed")"

# Two players, each reading commands from a pipe this script writes.
bot() {  # NAME FD: starts a bot whose commands come from file descriptor FD
    rm -f "$WORK/$1.in" && mkfifo "$WORK/$1.in"
    "$BOT" join "127.0.0.1:$PORT" --name "$1" --hide NpcUpdate,SkyWeather,NpcSay \
        <"$WORK/$1.in" >"$WORK/$1.out" 2>"$WORK/$1.err" &
    eval "exec $2>\"$WORK/$1.in\""
}
seen() { grep -q -- "$2" "$WORK/$1.out"; }
bot Ann 5
ANN_PID=$!
wait_until 'seen Ann "^Welcome you=0x[0-9A-F]\{8\} updateRate=50 messageTimeout=60$"'
ANN=$(sed -n 's/^Welcome you=\(0x[0-9A-F]*\) .*/\1/p' "$WORK/Ann.out")
bot Bob 6
BOB_PID=$!
wait_until 'seen Bob "^Welcome you="'
BOB=$(sed -n 's/^Welcome you=\(0x[0-9A-F]*\) .*/\1/p' "$WORK/Bob.out")
seen Bob "^PlayerJoined player=$ANN name=\"Ann\"$" || fail "Bob was not told of Ann"
seen Bob "^PlayerTag player=$ANN tag=0$" || fail "Bob was not told Ann's tag"
wait_until "seen Ann '^PlayerJoined player=$BOB name=\"Bob\"$'"

# Both stand near each other; each NearbyPlayers reply lists the other.
echo "move 100 100 east" >&5
wait_until "seen Ann '^NearbyPlayers count='"
echo "move 150 120 west" >&6
wait_until "seen Bob '^NearbyPlayers count=1 {player=$ANN x=100 y=100 byte=1 word=0 moving=1}$'"
echo "stop" >&5
wait_until "seen Ann '^NearbyPlayers count=1 {player=$BOB x=150 y=120 byte=3 word=0 moving=1}$'"

echo "tag 42" >&5
wait_until "seen Bob '^PlayerTag player=$ANN tag=42$'"
wait_until "seen Ann '^PlayerTag player=$ANN tag=42$'"
printf 'chat hello from Ann \xe2\x82\xac\n' >&5
wait_until "seen Bob '^Chat sender=$ANN text=\"hello from Ann €\"$'"
echo "chat and back" >&6
wait_until "seen Ann '^Chat sender=$BOB text=\"and back\"$'"
[ "$(grep -c 'hello from Ann' "$WORK/Ann.out")" = 1 ] || fail "Ann must see only her own Sent line, no echo"
echo "npctext 0 1" >&5
wait_until "seen Ann '^NpcText entry=1 npc=0 links=\[.*\] flag=[01] linkCount=[0-9]* text=\".*\"$'"
echo "who" >&6
wait_until "seen Bob '^Who count=2$'"
[ "$(grep -A2 '^Who count=2$' "$WORK/Bob.out")" = "Who count=2
Player id=$BOB name=\"Bob\" tag=- (you)
Player id=$ANN name=\"Ann\" tag=42" ] || fail "who printed: $(grep -A2 '^Who' "$WORK/Bob.out")"
echo "bogus" >&6
wait_until "grep -qx \"er-bot: unknown command 'bogus' (try help)\" '$WORK/Bob.err'"

# Bob quits; Ann hears of it and leaves when her input ends.
echo "quit" >&6
wait "$BOB_PID" || fail "Bob's quit gave $?: $(cat "$WORK/Bob.err")"
[ "$(tail -n 1 "$WORK/Bob.out")" = 'Left reason="closed"' ] || fail "Bob did not leave cleanly"
wait_until "seen Ann '^PlayerLeft player=$BOB$'"
exec 5>&-
wait "$ANN_PID" || fail "Ann's end of input gave $?: $(cat "$WORK/Ann.err")"
[ "$(tail -n 1 "$WORK/Ann.out")" = 'Left reason="closed"' ] || fail "Ann did not leave cleanly"
[ ! -s "$WORK/Ann.err" ] || fail "Ann complained: $(cat "$WORK/Ann.err")"
exec 6>&-

# Load: twenty players spread out, then sixteen in one crowd beside the NPCs.
result() { awk -v key="$1" '/^RESULT / { for (i = 2; i <= NF; i++) if (index($i, key "=") == 1) print substr($i, length(key) + 2) }' "$WORK/load.out"; }
"$BOT" load "127.0.0.1:$PORT" --players 20 --duration 3 >"$WORK/load.out" 2>"$WORK/load.err" ||
    fail "load gave $?: $(cat "$WORK/load.out" "$WORK/load.err")"
for pair in players=20 joined=20 failed=0 dropped=0 guaranteed_sent=20 guaranteed_lost=0; do
    [ "$(result "${pair%=*}")" = "${pair#*=}" ] || fail "load: want $pair: $(grep RESULT "$WORK/load.out")"
done
[ "$(result nearby_replies)" -gt 0 ] || fail "no NearbyPlayers replies: $(grep RESULT "$WORK/load.out")"
[[ "$(result nearby_p99_ms)" =~ ^[0-9]+\.[0-9]{3}$ ]] || fail "no round trip: $(grep RESULT "$WORK/load.out")"
grep -q '^players        20 of 20 joined, 0 failed$' "$WORK/load.out" || fail "summary: $(cat "$WORK/load.out")"
"$BOT" load "127.0.0.1:$PORT" --players 16 --duration 1 --pattern crowd --rate 10 \
    >"$WORK/load.out" 2>"$WORK/load.err" || fail "crowd load gave $?: $(cat "$WORK/load.out")"
[ "$(result joined)" = 16 ] && [ "$(result dropped)" = 0 ] && [ "$(result npc_updates)" -gt 0 ] ||
    fail "crowd: $(grep RESULT "$WORK/load.out")"

status_until '[ "$(status_value "Players in Game:")" = 0 ]'
stop_server exit
echo PASS

#!/usr/bin/env bash
# A play test of the default world, Emberford: the real server on a port the system chooses,
# three players joined with er-bot, and every check made on the game messages they receive.
# Ann stands in the square beside Tom the crier, Bob 140 units south of her (near enough to
# chat, too far to hear Tom), Cal at the watchtower, far from both.
source "$(dirname "$0")/lib.sh"
BOT=${2:?usage: village_play.sh PATH-TO-SERVER PATH-TO-ER-BOT}

host_world ""

bot() {  # NAME FD: a player whose commands come from file descriptor FD
    rm -f "$WORK/$1.in" && mkfifo "$WORK/$1.in"
    "$BOT" join "127.0.0.1:$PORT" --name "$1" <"$WORK/$1.in" >"$WORK/$1.out" 2>"$WORK/$1.err" &
    eval "${1}_PID=$!; exec $2>\"$WORK/$1.in\""
    wait_until "grep -q '^Welcome you=' '$WORK/$1.out'"
    eval "$1=$(sed -n 's/^Welcome you=\(0x[0-9A-F]*\) .*/\1/p' "$WORK/$1.out")"
}
seen() { grep -q -- "$2" "$WORK/$1.out"; }
mark() { wc -l <"$WORK/$1.out"; }
seen_after() { tail -n "+$(($2 + 1))" "$WORK/$1.out" | grep -q -- "$3"; }
# The game messages of the join, in order, leaving out those any moment may bring.
joining() { grep -v '^\(Sent\|NpcUpdate\|NpcSay\|SkyWeather\|NearbyPlayers\) ' "$WORK/$1.out" | head -n "$2"; }

# Joining: each newcomer is welcomed, told of everyone already there, and announced to them.
bot Ann 4
echo "move 130 40 south" >&4
bot Bob 5
echo "move 130 180 north" >&5
bot Cal 6
echo "move 800 600 east" >&6
[ "$(joining Ann 2 | cut -d' ' -f1 | tr '\n' ' ')" = "Joined Welcome " ] || fail "Ann's join: $(joining Ann 3)"
[ "$(joining Cal 6 | tail -n 4 | sort)" = "$(sort <<<"PlayerJoined player=$Ann name=\"Ann\"
PlayerJoined player=$Bob name=\"Bob\"
PlayerTag player=$Ann tag=0
PlayerTag player=$Bob tag=0")" ] || fail "Cal's join listing: $(joining Cal 6)"
wait_until "seen Cal '^SkyWeather sky=0x00[0-9A-F]\{6\} rain=0 lightning=0$'"
wait_until "seen Ann '^PlayerJoined player=$Bob name=\"Bob\"$' && seen Ann '^PlayerJoined player=$Cal name=\"Cal\"$'"
wait_until "seen Bob '^PlayerJoined player=$Cal name=\"Cal\"$'"

# Hobb's conversation before the bread: entries 1 to 3 of NPC slot 2.
ask_hobb() { for e in 0 1 2; do echo "npctext 2 $e" >&4; done; }
hobb() { grep "^NpcText entry=$1 npc=2 " "$WORK/Ann.out" | tail -n 1; }
ask_hobb
wait_until "[ -n \"\$(hobb 2)\" ]"
[ "$(hobb 0)" = 'NpcText entry=0 npc=2 links=[1,2] flag=1 linkCount=2 text="Welcome to Hobb'\''s stall! Not a crumb of bread today, I'\''m afraid."' ] ||
    fail "Hobb before the bread: $(hobb 0)"
[ "$(hobb 2)" = 'NpcText entry=2 npc=2 links=[0] flag=0 linkCount=1 text="Bram brings the last of the harvest at one o'\''clock."' ] ||
    fail "Hobb before the bread: $(hobb 2)"

# One o'clock starts the bread's story: a short day brings it, then the day is long again.
send "set daylength 100" && send apply
status_until '[[ "$(status_value "Game Time:")" == 13\ * ]]'
send "set daylength 1000" && send apply

# Chat reaches Bob, 140 units away, and not Cal.
echo "chat Anyone seen the baker's boy?" >&4
wait_until "seen Bob '^Chat sender=$Ann text=\"Anyone seen the baker'\\''s boy?\"$'"

# Rain from the console: every player's sky message carries it, and widow Mae leaves the
# well (200,170) for her door (20,200); once it stops she comes back.
send "rain 30"
for p in Ann Bob Cal; do wait_until "seen $p '^SkyWeather sky=0x00[0-9A-F]\{6\} rain=[1-9][0-9.]* '"; done
wait_until "seen Ann '{npc=3 x=20 y=200 facing=3 headFacing=3 action=0}'"
dry=$(mark Ann)
send "rain 0"
wait_until "seen_after Ann $dry '{npc=3 x=200 y=170 facing=1 headFacing=1 action=0}'"

# Tom greets whoever is within 80 units: Ann hears him, Bob and Cal never do.
wait_until "seen Ann '^NpcSay npc=1 text=\"Good day, traveller, and welcome to Emberford!\"$'"

# The gate guard's round: walking, then at the east corner facing east and waiting, at the
# south corner facing south.
wait_until "seen Ann '{npc=0 x=280 y=120 facing=1 headFacing=1 action=4}'"
wait_until "seen Ann '{npc=0 x=160 y=200 facing=2 headFacing=2 action=4}'"
[ "$(grep -o '{npc=0 x=[0-9]* y=[0-9]* [^}]*action=3}' "$WORK/Ann.out" | sort -u | wc -l)" -ge 5 ] ||
    fail "the guard's walk: $(grep -o '{npc=0 [^}]*}' "$WORK/Ann.out" | sort -u)"

# The bread reaches Hobb, and his conversation changes.
answers() { grep -c "^NpcText entry=2 npc=2 " "$WORK/Ann.out"; }
hobb_now() { local n; n=$(answers); ask_hobb; wait_until "[ \$(answers) -gt $n ]"; hobb 0; }
wait_until '[[ "$(hobb_now)" == *Fresh* ]]' 45
[ "$(hobb 0)" = 'NpcText entry=0 npc=2 links=[1,2] flag=1 linkCount=2 text="Fresh loaves from Mara'\''s oven, two coppers each!"' ] ||
    fail "Hobb with the bread: $(hobb 0)"
[ "$(hobb 2)" = 'NpcText entry=2 npc=2 links=[0] flag=1 linkCount=1 text="Tonight we feast at the Sleeping Boar!"' ] ||
    fail "Hobb with the bread: $(hobb 2)"
seen Ann '{npc=17 x=250 y=80 facing=0 headFacing=0 action=4}' || fail "Pip was not seen waiting at the stall"

# A day of 24 clock ticks: each one is an hour, and the sky takes the colour of the hour's
# entry in the table (where a stopped rain still lifts it to the midnight floor).
sky=$(mark Ann)
send "set daylength 24" && send apply
skies=""
for c in AF5C4E A96459 AE6B60 BA766A BA766A C68378 E8A398 EEBEB6 F3DAD6 FBF5F4 FFFFFF FFFFFF \
    ECF8F7 E7F8F7 D5F2EF C7EDED BEECE8 BEE1EC 7EC4E4 68A6E5 439EEB E87C83 D86F76 BE5C62; do
    b=$((16#${c:0:2})) g=$((16#${c:2:2})) r=$((16#${c:4:2}))
    skies+=" $c $(printf '%02X%02X%02X' $((b > 175 ? b : 175)) $((g > 92 ? g : 92)) $((r > 78 ? r : 78)))"
done
hour_skies() {  # the hours' colours other than noon's seen since the mark
    tail -n "+$((sky + 1))" "$WORK/Ann.out" | sed -n 's/^SkyWeather sky=0x00\([0-9A-F]*\) .*/\1/p' |
        awk -v skies="$skies" 'BEGIN { split(skies, s, " "); for (i in s) hour[s[i]] = 1 }
            hour[$1] && $1 != "ECF8F7" && !seen[$1]++ { n++ } END { print n + 0 }'
}
wait_until '[ "$(hour_skies)" -ge 3 ]'
send "set daylength 1000" && send apply

# Leaving: Cal, then Bob; the others are told.
echo quit >&6
wait "$Cal_PID" || fail "Cal's quit gave $?: $(cat "$WORK/Cal.err")"
wait_until "seen Ann '^PlayerLeft player=$Cal$' && seen Bob '^PlayerLeft player=$Cal$'"
echo quit >&5
wait "$Bob_PID" || fail "Bob's quit gave $?"
wait_until "seen Ann '^PlayerLeft player=$Bob$'"
exec 4>&-
wait "$Ann_PID" || fail "Ann's end of input gave $?"
for p in Ann Bob Cal; do
    [ "$(tail -n 1 "$WORK/$p.out")" = 'Left reason="closed"' ] || fail "$p did not leave cleanly"
done

# What must not have reached the others: Tom's greeting, Ann's chat to Cal.
for p in Bob Cal; do seen $p '^NpcSay npc=1 ' && fail "$p heard Tom from too far"; done
seen Cal "^Chat " && fail "Cal heard the chat from too far"
seen Ann '^NpcUpdate .*{npc=22 ' && fail "Ann saw the watchman from the square"
seen Cal '{npc=22 ' || fail "Cal did not see the watchman beside him"
stop_server exit
echo PASS

#!/usr/bin/env bash
# --simulate: NPCs walk, turn, say, wait for each other, the clock and the day, disappear; XScript
# fills message maps. State blocks pin each step to its tick; the seed drives the weather.
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
source "$(dirname "$0")/lib.sh"

mkdir -p world/npc world/screens world/script
# One screen at column 0, row 0; placements at world (100,100), (200,100), (300,100), (400,100).
# A quest field is its bytes with the top bit flipped, then '~'.
for f in 1 1 0 0 0 0 0 0 4 300 300 Walker 500 300 Talker 700 300 Stand 900 300 Keeper 0; do
    printf '%s' "$f" | LC_ALL=C tr '\0-\177' '\200-\377' && printf '~'
done >world/screens/ERtest2.qst
printf '[NAME]\n%s\n[TYPE]\n%s\n[SPEED]\n%s\n' Walker personscript 20 Talker personscript 35 \
    Stand still 0 Keeper personscript 35 >world/npc/chars.npc
printf 'Walker\nTalker\nStand\nKeeper\n' >world/npc/clist.nst
cat >world/script/ERtest2.ers <<'END'
IF NPC[01]>ENDED[1] = 1
 SET_GLOBAL(GLOBAL[2], GLOBAL[2] + 1)
ENDIF
NPC[03]>MESSAGE_MAP[01](2,3,TRUE)$Stand and talk.$
SET_GLOBAL(GLOBAL[7], 0 - 3)
RUN_PERSON_SCRIPT[1]
BEGIN_PERSON_SCRIPT[1]
PERSON_BEGIN[01]
NPC[01]>WALKTO(110,100)
NPC[01]>SET_FACING($NORTH$)
NPC[01]>SAY ($Made it$)
NPC[01]>WAIT(10)
NPC[01]>DISAPPEAR
PERSON_END[01]
PERSON_BEGIN[02]
NPC[02]>WAIT_FOR(1, 3)
NPC[02]>SET_HEAD_FACING($WEST$)
NPC[02]>SAY ($Wait for me!$)
NPC[02]>WALKTO(NPC[01]>XPOS + 10, 100)
NPC[02]>SET_MESSAGE(3)
PERSON_END[02]
PERSON_BEGIN[04]
NPC[04]>WAIT_FOR_TIME(12, 30)
NPC[04]>SET_FACING($EAST$)
NPC[04]>WAIT_FOR_DAY(1)
NPC[04]>SET_FACING($WEST$)
NPC[04]>WAIT(1000)
PERSON_END[04]
END_PERSON_SCRIPT
END
cat >world/script/XScript.txt <<'END'
x = GetVar("NPC", 1, "XPOS");
if (x == 110) { NPC_MessageMap(1, 2, "1.", 1, "I am here."); }
NPC_MessageMap(2, 1, "3,4.", 2, "Hello there");
e = GetVarEx("NPC", 1, "ENDED", 0);
if (e == 1) { NPC_MessageMap(1, 3, "", 1, "All done."); }
RunPersonScript("missing.txt", 1);
END

"$SERVER" --data world --simulate 2600 --dump-every 1 >out.txt 2>err.txt || fail "exit code $?"
[ ! -s err.txt ] || fail "unexpected error output: $(cat err.txt)"
[ -f world/scriptput.txt ] || fail "the script echo must be written"
grep -q "WinMain: Loading map File" world/ErrorChk.txt || fail "start-up steps must be logged"
[ -f "$SETTINGS" ] || fail "the settings must be written back at shutdown"

block() { awk -v t="# tick $1" '$0 == t { on = 1; print; next } /^# tick/ && on { exit } on' out.txt; }

# Tick 1: the walk begins and moves in the same tick; the talker waits, counting tenths.
cat >expected.txt <<'END'
# tick 1
clock day=0 hour=0 minute=0 text="" sky=0xECF8F7 raining=0 volume=0.000 lightning=0
globals 7=-3
npc 0 pos=101.000,100.000 facing=1 head=1 action=3 visible=1 speed=20.000 type=2 message=0 instruction=0 count=5 ended=0000000000 wait=0.000 target=110,100 say=""
npc 1 pos=200.000,100.000 facing=2 head=2 action=4 visible=1 speed=35.000 type=2 message=0 instruction=0 count=5 ended=0000000000 wait=0.500 target=0,0 say=""
npc 2 pos=300.000,100.000 facing=2 head=2 action=0 visible=1 speed=0.000 type=3 message=0 instruction=0 count=-1 ended=0000000000 wait=0.000 target=0,0 say=""
npc 3 pos=400.000,100.000 facing=2 head=2 action=4 visible=1 speed=35.000 type=2 message=0 instruction=0 count=5 ended=0000000000 wait=0.000 target=0,0 say=""
map 1 1 flag=0 links=2,3 text="Hello there"
map 2 1 flag=1 links=1,2 text="Stand and talk."
END
block 1 | diff expected.txt - >&2 || fail "tick 1 differs"

# Lines of later blocks. WAIT(10) ends on its 22nd pass (tick 32); the main section sees ENDED from 33.
while IFS='|' read -r tick pattern; do
    block "$tick" | grep -q -- "$pattern" || fail "tick $tick, no line matching $pattern: $(block "$tick")"
done <<'END'
10|^npc 0 pos=110.000,100.000 facing=1 head=1 action=3 visible=1 speed=20.000 type=2 message=0 instruction=0 count=5 ended=0000000000 wait=0.000 target=110,100 say=""$
31|^npc 0 .* instruction=3 count=5 ended=0000000000 wait=10.500 
32|^npc 0 .* action=0 visible=0 .* instruction=0 count=5 ended=1000000000 wait=0.500 
32|^map 0 3 flag=1 links=-1 text="All done."$
5|^clock day=0 hour=12 minute=1 text="12 :  1" sky=0xEBF8F7 raining=0 
33|^globals 2=1 7=-3$
33|^npc 0 .* count=0 ended=1000000000 
100|^npc 1 pos=120.000,100.000 facing=3 head=3 action=0 visible=1 speed=35.000 type=2 message=2 instruction=4 count=5 ended=0000000000 wait=0.500 target=120,100 say="Wait for me!"$
2600|^npc 1 .* message=2 instruction=4 
105|^npc 3 .* facing=2 head=2 action=4 .* instruction=0 
106|^clock day=0 hour=12 minute=30 
106|^npc 3 .* facing=1 head=1 action=4 .* instruction=2 .* wait=0.000 
2520|^npc 3 .* facing=1 .* instruction=2 
2521|^clock day=1 
2521|^npc 3 .* facing=3 head=3 action=4 .* instruction=4 .* wait=0.500 
END

# RunPersonScript of a missing file is logged once for the whole run.
[ "$(grep -c '^Error: Could not open Person Script File:$' world/ErrorChk.txt)" = 1 ] ||
    fail "the missing person-script file must be logged once"
grep -qx 'script\\missing.txt' world/ErrorChk.txt || fail "the log names the path"

# The same world twice gives the same bytes.
"$SERVER" --data world --simulate 2600 --dump-every 1 >again.txt || fail "exit code $?"
cmp -s out.txt again.txt || fail "two runs of the same world differ"

# Dumps come after every K-th tick and after the last; no ticks print nothing but still load.
"$SERVER" --data world --simulate 7 --dump-every 3 >out.txt || fail "exit code $?"
[ "$(grep '^# tick' out.txt | tr '\n' ' ')" = "# tick 3 # tick 6 # tick 7 " ] || fail "dumps: $(cat out.txt)"
rm world/scriptput.txt
"$SERVER" --data world --simulate 0 >out.txt || fail "exit code $?"
[ ! -s out.txt ] && [ -f world/scriptput.txt ] || fail "--simulate 0 prints nothing and still loads"

# Seed 16082 starts a rain on the first clock tick, logged, rising on the next; seed 1 not.
"$SERVER" --data world --simulate 10 --seed 16082 --dump-every 5 >rain.txt || fail "exit code $?"
grep -c 'raining=1' rain.txt | grep -qx 2 || fail "seed 16082 must rain from tick 5: $(cat rain.txt)"
grep -q 'volume=0.010' rain.txt || fail "the rain rises on the next clock tick"
grep -q "It Rained at:" world/ErrorChk.txt || fail "the rain start is logged"
"$SERVER" --data world --simulate 10 --dump-every 5 >dry.txt || fail "exit code $?"
grep -q 'raining=1' dry.txt && fail "seed 1 must stay dry"

# The default world: every NPC placed, its scripts running.
cp -r "$GAMEDATA" default
"$SERVER" --data default --simulate 600 --dump-every 200 >run1.txt || fail "exit code $?"
[ "$(grep -c '^npc ' run1.txt)" = 69 ] || fail "the default world places 23 NPCs"
grep -qx 'map 0 1 flag=1 links=1,2 text="Halt! The village gate closes at nightfall."' run1.txt ||
    fail "the XScript program fills the guard's message map"
grep -qx 'map 6 1 flag=1 links=1,2 text="The oak was old when the village was young."' run1.txt ||
    fail "MESSAGE_MAP lines fill the keeper's message map"
grep -q '^npc 0 .* say="All quiet on the east road."$' run1.txt || fail "the guard speaks on his round"
echo PASS

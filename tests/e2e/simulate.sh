#!/usr/bin/env bash
# --simulate: start-up in the data directory, N ticks on a simulated 50 ms clock, the state
# blocks after the chosen ticks, the normal shutdown; the same seed gives the same run.
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
source "$(dirname "$0")/lib.sh"

# A world of one walking NPC, for exact numbers.
mkdir -p world/npc world/screens world/script
printf '[NAME]\nWalker\n[TYPE]\npersonscript\n[SPEED]\n25\n' >world/npc/chars.npc
printf 'Walker\n' >world/npc/clist.nst
# Quest fields 1 ~ 1 ~ 0 ~ 0 ~ four unused ~ one placement 300 ~ 260 ~ Walker ~ no objects.
printf '\xb1~\xb1~\xb0~\xb0~\xb0~\xb0~\xb0~\xb0~\xb1~\xb3\xb0\xb0~\xb2\xb6\xb0~\xd7\xe1\xec\xeb\xe5\xf2~\xb0~' \
    >world/screens/ERtest2.qst
printf 'NPC[01]>WALKTO(200,80)\nSET_GLOBAL(GLOBAL[7], 0 - 3)\n' >world/script/ERtest2.ers

"$SERVER" --data world --simulate 2 --dump-every 1 >out.txt 2>err.txt || fail "exit code $?"
cat >expected.txt <<'END'
# tick 1
clock day=0 hour=0 minute=0 text="" sky=0xECF8F7 raining=0 volume=0.000 lightning=0
globals 7=-3
npc 0 pos=101.250,80.000 facing=1 head=1 action=3 visible=1 speed=25.000 type=2 message=0 instruction=0 count=-1 ended=0000000000 wait=0.000 target=200,80 say=""
# tick 2
clock day=0 hour=0 minute=0 text="" sky=0xECF8F7 raining=0 volume=0.000 lightning=0
globals 7=-3
npc 0 pos=102.500,80.000 facing=1 head=1 action=3 visible=1 speed=25.000 type=2 message=0 instruction=0 count=-1 ended=0000000000 wait=0.000 target=200,80 say=""
END
diff expected.txt out.txt >&2 || fail "state blocks differ"
[ ! -s err.txt ] || fail "unexpected error output: $(cat err.txt)"
[ -f world/scriptput.txt ] || fail "the script echo must be written"
grep -q "WinMain: Loading map File" world/ErrorChk.txt || fail "start-up steps must be logged"
[ -f "$SETTINGS" ] || fail "the settings must be written back at shutdown"

# The clock steps on every fifth tick; the dumps come after every K-th tick and after the last.
"$SERVER" --data world --simulate 7 --dump-every 3 >out.txt || fail "exit code $?"
[ "$(grep '^# tick' out.txt | tr '\n' ' ')" = "# tick 3 # tick 6 # tick 7 " ] ||
    fail "dump ticks: $(grep '^# tick' out.txt)"
grep -q '^clock day=0 hour=12 minute=1 text="12 :  1" sky=0xEBF8F7' out.txt || fail "clock after tick 5"

# No ticks: nothing printed, but the world still loads.
rm -f world/scriptput.txt
"$SERVER" --data world --simulate 0 >out.txt || fail "exit code $?"
[ ! -s out.txt ] || fail "no tick, no state block"
[ -f world/scriptput.txt ] || fail "--simulate 0 still loads the script"

# The seed drives the weather: seed 16082 starts a rain on the first clock tick, seed 1 not.
"$SERVER" --data world --simulate 10 --seed 16082 --dump-every 5 >rain.txt || fail "exit code $?"
grep -c 'raining=1' rain.txt | grep -qx 2 || fail "seed 16082 must rain from tick 5: $(cat rain.txt)"
grep -q 'volume=0.010' rain.txt || fail "the rain rises on the next clock tick"
grep -q "It Rained at:" world/ErrorChk.txt || fail "the rain start is logged"
"$SERVER" --data world --simulate 10 --dump-every 5 >dry.txt || fail "exit code $?"
grep -q 'raining=1' dry.txt && fail "seed 1 must stay dry"

# The default world: every NPC placed, its scripts running.
cp -r "$GAMEDATA" default
"$SERVER" --data default --simulate 600 --dump-every 200 >run1.txt || fail "exit code $?"
[ "$(grep -c '^npc ' run1.txt)" = 12 ] || fail "the default world places four NPCs"
grep -qx 'map 0 1 flag=1 links=1,2 text="Halt! The village gate closes at nightfall."' run1.txt ||
    fail "the XScript program fills the guard's message map"
grep -qx 'map 3 1 flag=1 links=1 text="The oak was old when the village was young."' run1.txt ||
    fail "MESSAGE_MAP lines fill the keeper's message map"
grep -q '^npc 0 .* say="All quiet on the east road."$' run1.txt || fail "the guard speaks on his round"

echo PASS

#!/usr/bin/env bash
# er-quest: decode and encode round-trip quest files byte for byte; check loads a quest as the
# server does and reports placements, unmatched names and limits.
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
source "$(dirname "$0")/lib.sh"
TOOL=$SERVER

# The default world's quest file round-trips through the pipe (arbitrary bytes do too: the
# unit tests of the text form check that).
"$TOOL" decode "$GAMEDATA/screens/ERtest2.qst" | "$TOOL" encode - -o again.qst
cmp "$GAMEDATA/screens/ERtest2.qst" again.qst || fail "the default quest does not round-trip"

# The default world's quest file is made from its text form.
"$TOOL" encode "$GAMEDATA/screens/ERtest2.txt" -o from-text.qst
cmp "$GAMEDATA/screens/ERtest2.qst" from-text.qst || fail "ERtest2.qst is not made from ERtest2.txt"

# The text form of the default world names its placements.
"$TOOL" decode "$GAMEDATA/screens/ERtest2.qst" >world.txt
grep -q '^place x="420" y="340" name="Gate Guard"  # world 160,120$' world.txt ||
    fail "decode: $(cat world.txt)"

# Encoding rejects what it cannot write.
printf 'header value="\\xFE"\n' >bad.txt
rc=0
"$TOOL" encode bad.txt -o bad.qst 2>err.txt || rc=$?
[ "$rc" = 2 ] || fail "a field holding 0xFE must be refused"
grep -q "line 1" err.txt || fail "the error names the line"

# check in the default world.
"$TOOL" check "$GAMEDATA/screens/ERtest2.qst" --data "$GAMEDATA" >check.txt || fail "check: $(cat check.txt)"
grep -q '^npc 0 world=160,120 name="Gate Guard" type=2$' check.txt || fail "check: $(cat check.txt)"
grep -q '^summary: 2 screens, 4 NPCs placed of 50 slots, 0 refused, 0 problems$' check.txt ||
    fail "summary: $(cat check.txt)"

# A quest with an unknown name and too many NPCs.
mkdir -p data/npc
printf 'Guard\nGuard2\n' >data/npc/clist.nst
printf '[NAME]\nGuard\n' >data/npc/chars.npc
{
    echo 'header value="1"'
    echo 'screens count="1"'
    echo 'screen column="2" row="1"'
    echo 'unused a="" b="" c="" d=""'
    echo 'block placements="27"'
    echo 'place x="99" y="100" name="Nobody"'
    for _ in $(seq 26); do echo 'place x="100" y="100" name="Guard"'; done
    echo 'objects count="0"'
} >big.txt
"$TOOL" encode big.txt -o big.qst
rc=0
"$TOOL" check big.qst --data data >check.txt || rc=$?
[ "$rc" = 1 ] || fail "problems must give exit code 1, got $rc"
grep -q 'no NPC list line holds the name "Nobody" (placed at 639,240)' check.txt || fail "$(cat check.txt)"
grep -q '^npc 49 world=640,240 name="Guard2"' check.txt || fail "$(cat check.txt)"
[ "$(grep -c 'the NPC set is full' check.txt)" = 2 ] || fail "$(cat check.txt)"
echo PASS

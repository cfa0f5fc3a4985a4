#!/usr/bin/env bash
# er-quest: decode and encode round-trip quest files byte for byte; check loads a quest as the
# server does and reports placements, unmatched names and limits.
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
source "$(dirname "$0")/lib.sh"
TOOL=$SERVER
QST="$GAMEDATA/screens/ERtest2.qst"

"$TOOL" decode "$QST" | tee world.txt | "$TOOL" encode - -o again.qst
cmp "$QST" again.qst || fail "the default quest does not round-trip"
"$TOOL" encode "$GAMEDATA/screens/ERtest2.txt" -o from-text.qst
cmp "$QST" from-text.qst || fail "ERtest2.qst is not made from ERtest2.txt"
grep -q '^place x="420" y="340" name="Gate Guard"  # world 160,120$' world.txt || fail "decode: $(cat world.txt)"

printf 'header value="\\xFE"\n' >bad.txt
"$TOOL" encode bad.txt -o bad.qst 2>err.txt && rc=0 || rc=$?
[ "$rc" = 2 ] || fail "a field holding 0xFE must be refused"
grep -q "line 1" err.txt || fail "the error names the line"

"$TOOL" check "$QST" --data "$GAMEDATA" >check.txt || fail "check: $(cat check.txt)"
grep -q '^npc 0 world=160,120 name="Gate Guard" type=2$' check.txt || fail "check: $(cat check.txt)"
grep -q '^summary: 9 screens, 23 NPCs placed of 50 slots, 0 refused, 0 problems$' check.txt ||
    fail "summary: $(cat check.txt)"

# A quest with an unknown name and too many NPCs.
mkdir -p data/npc
printf 'Guard\nGuard2\n' >data/npc/clist.nst
printf '[NAME]\nGuard\n' >data/npc/chars.npc
{
    printf '%s\n' 'header value="1"' 'screens count="1"' 'screen column="2" row="1"' 'unused a="" b="" c="" d=""' \
        'block placements="27"' 'place x="99" y="100" name="Nobody"'
    printf 'place x="100" y="100" name="Guard"\n%.0s' {1..26}
    echo 'objects count="0"'
} >big.txt
"$TOOL" encode big.txt -o big.qst
"$TOOL" check big.qst --data data >check.txt && rc=0 || rc=$?
[ "$rc" = 1 ] || fail "problems must give exit code 1, got $rc"
grep -q 'no NPC list line holds the name "Nobody" (placed at 639,240)' check.txt || fail "$(cat check.txt)"
grep -q '^npc 49 world=640,240 name="Guard2"' check.txt || fail "$(cat check.txt)"
[ "$(grep -c 'the NPC set is full' check.txt)" = 2 ] || fail "$(cat check.txt)"
echo PASS

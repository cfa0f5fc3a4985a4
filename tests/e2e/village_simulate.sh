#!/usr/bin/env bash
# The default world's first game hour (210 ticks), simulated, against the dump kept beside
# this script, byte for byte. A change to the world that changes what happens in that hour
# shows here; when it is meant, make the dump again with `make village-dump` (which runs
# this script with --update) and commit it with the change.
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
DUMP="$(cd "$(dirname "$0")" && pwd)/village_first_hour.txt"
source "$(dirname "$0")/lib.sh"

cp -r "$GAMEDATA" world
rm -f world/ErrorChk.txt world/scriptput.txt
"$SERVER" --data world --simulate 210 --dump-every 21 >hour.txt || fail "exit code $?"
if [ "${2:-}" = --update ]; then
    cp hour.txt "$DUMP" && echo "wrote $DUMP" && exit 0
fi
cmp -s hour.txt "$DUMP" || fail "the first hour differs from $DUMP (make village-dump makes it anew):
$(diff "$DUMP" hour.txt | head -n 20)"
echo PASS

#!/usr/bin/env bash
# The Debian package on this machine: built with cpack, free of lintian errors, installed with
# dpkg, its unit verified and its commands run as the service's user would run them (systemd
# is not PID 1 here), the installed server driven with emberrealms-ctl with a player joined,
# then removed, leaving only the state folder. Needs root; skipped (77) otherwise.
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
BUILD=$(cd "$(dirname "$SERVER")/.." && pwd)
STATE=/var/lib/emberrealms UNIT=/usr/lib/systemd/system/emberrealms.service
RT=$(mktemp -d /tmp/emberrealms-rt.XXXXXX)
trap 'kill -KILL $(jobs -p) 2>/dev/null || true; pkill -KILL -u emberrealms 2>/dev/null || true
      dpkg --purge emberrealms >/dev/null 2>&1 || true; rm -rf "$WORK" "$RT"' EXIT

(cd "$BUILD" && cpack -G DEB -B "$WORK/package" >"$WORK/cpack.log" 2>&1) || fail "cpack: $(cat "$WORK/cpack.log")"
DEB=$(ls "$WORK"/package/emberrealms_*_amd64.deb)
if command -v lintian >/dev/null; then
    errors=$(lintian --tag-display-limit 0 "$DEB" 2>/dev/null | grep '^E:' || true)
    [ -z "$errors" ] || fail "lintian: $errors"
fi
pkill -KILL -u emberrealms 2>/dev/null || true  # what an earlier run may have left
dpkg --purge emberrealms >/dev/null 2>&1 || true
rm -rf "$STATE"
dpkg -i "$DEB" >"$WORK/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$WORK/dpkg.log")"
getent passwd emberrealms | grep -q ":$STATE:" || fail "no system user with its home in $STATE"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify "$UNIT" >"$WORK/verify" 2>&1 || fail "unit: $(cat "$WORK/verify")"
fi
grep -qx 'Type=notify' "$UNIT" || fail "the unit does not wait for readiness"
# The dissector is where tshark finds it without being told.
tshark -G fields 2>/dev/null | grep -q $'\temberrealms.type\t' || fail "tshark does not load the dissector"

# What systemd would do: the state and runtime folders, the environment, ExecStartPre, then
# ExecStart as the user. The settings file asks for a port the system chooses.
install -d -o emberrealms -g emberrealms -m 0750 "$STATE" "$STATE/.config" "$STATE/.config/EmberRealms"
printf '[EmberRealms]\nEmberRealms Server Port=0\n' >"$STATE/.config/EmberRealms/EmberRealms.ini"
chown emberrealms:emberrealms "$STATE/.config/EmberRealms/EmberRealms.ini" "$RT"
as_service() {
    runuser -u emberrealms -- env HOME="$STATE" XDG_CONFIG_HOME="$STATE/.config" \
        RUNTIME_DIRECTORY="$RT" "$@"
}
eval "as_service $(sed -n 's/^ExecStartPre=//p' "$UNIT")" || fail "ExecStartPre"
[ -f "$STATE/world/npc/clist.nst" ] || fail "the default world was not copied"
read -ra start <<<"$(sed -n 's/^ExecStart=//p' "$UNIT")"
as_service "${start[@]}" </dev/null >"$WORK/out" 2>"$WORK/err" &
SERVICE_PID=$!
ctl() { as_service emberrealms-ctl "$@"; }  # finds the socket as the service's user would
wait_until "[ -S '$RT/control.sock' ]"
[ "$(stat -c %a "$RT/control.sock")" = 700 ] || fail "the control socket is not the owner's alone"
wait_until "ctl status | grep -qx 'Server Status: Server started.'"

# A player joins from the installed er-bot and is listed; rain; stop and start; exit.
server_pid=$(pgrep -u emberrealms -f '^/usr/bin/emberrealms-server' | head -n 1)
inodes=" $(find "/proc/$server_pid/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
PORT=$(awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "0x", $2); print $2 }' \
    /proc/net/udp | xargs printf '%d\n' | grep -vx 6073 | head -n 1)
# The session is captured from here, and read at the end with the installed dissector.
tshark -i lo -f "udp port $PORT" -w "$WORK/game.pcapng" >"$WORK/tshark.log" 2>&1 &
TSHARK_PID=$!
# Capturing once an enumeration query to the port shows in the capture.
wait_until "er-bot enum 127.0.0.1:$PORT --timeout 100 >/dev/null 2>&1; [ -n \"\$(tshark -r '$WORK/game.pcapng' 2>/dev/null)\" ]"
# Ann stands where the gate guard says his line, Bob beside her; Ann talks, tags and asks an
# NPC, Bob leaves.
mkfifo "$WORK/bot_in" "$WORK/bob_in"
er-bot join "127.0.0.1:$PORT" --name Ann <"$WORK/bot_in" >"$WORK/bot_out" 2>&1 &
exec 8>"$WORK/bot_in"
wait_until "[ \"\$(ctl players)\" = '0 Ann' ]"
er-bot join "127.0.0.1:$PORT" --name Bob <"$WORK/bob_in" >"$WORK/bob_out" 2>&1 &
exec 9>"$WORK/bob_in"
wait_until "[ \"\$(ctl players)\" = \$'0 Ann\\n1 Bob' ]"
printf 'move 290 120\n' >&9
wait_until "grep -q '^NearbyPlayers ' '$WORK/bob_out'"  # Bob stands there before Ann talks
printf 'move 100 100 east\nmove 280 120\nstop\ntag 42\nchat hello\nnpctext 1 0\n' >&8
wait_until "grep -q '^NpcText ' '$WORK/bot_out' && grep -q '^Chat .*hello' '$WORK/bob_out'"
deadline=$((SECONDS + 90))  # the guard's round
until grep -q '^NpcSay ' "$WORK/bot_out"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the gate guard never spoke to Ann"
    sleep 0.2
done
exec 9>&-
wait_until "grep -q '^PlayerLeft ' '$WORK/bot_out'"
ctl set update 40 >/dev/null && ctl apply >/dev/null
wait_until "grep -q '^RateSettings ' '$WORK/bot_out'"
[ -z "$(ctl rain 30)" ] || fail "rain answered"
wait_until "ctl status | grep -qx 'Is it Raining?: Yes'"
ctl frobnicate | grep -qx "unknown command 'frobnicate'; type help for the list" || fail "unknown command"
ctl stop >/dev/null && wait_until "ctl status | grep -qx 'Server Status: Server stopped.'"
ctl start >/dev/null && wait_until "ctl status | grep -qx 'Server Status: Server started.'"
exec 8>&-
wait_until "grep -q '^PlayerLeft\\|^Left' '$WORK/bot_out' || ! pgrep -f 'er-bot join' >/dev/null"
kill -INT "$TSHARK_PID" && wait "$TSHARK_PID" || true
# Every one of the thirteen messages in the session, each with fields it must hold, in the
# installed dissector's terms.
for want in 'emberrealms.type == 4 && emberrealms.update_rate == 50' \
    'emberrealms.type == 2 && emberrealms.name == "Bob"' 'emberrealms.type == 3' \
    'emberrealms.type == 9 && emberrealms.sender && emberrealms.text == "hello"' \
    'emberrealms.type == 14 && emberrealms.text == "All quiet on the east road."' \
    'emberrealms.type == 15 && emberrealms.count == 1 && emberrealms.entry.x == 290' \
    'emberrealms.type == 16 && emberrealms.count >= 1' \
    'emberrealms.type == 5 && emberrealms.report.x == 100' 'emberrealms.type == 6' \
    'emberrealms.type == 7 && emberrealms.update_rate == 40' \
    'emberrealms.type == 8 && emberrealms.tag == 42' \
    'emberrealms.type == 9 && emberrealms.text == "hello"' 'emberrealms.type == 10' \
    'emberrealms.type == 11 && emberrealms.npc == 1 && emberrealms.npctext.entry == 0'; do
    [ -n "$(tshark -r "$WORK/game.pcapng" -o "emberrealms.port:$PORT" -Y "$want" 2>/dev/null)" ] ||
        fail "nothing in the capture matches: $want; it holds: $(tshark -r "$WORK/game.pcapng" -o "emberrealms.port:$PORT" -T fields -e frame.number -e emberrealms.type -e emberrealms.update_rate 2>/dev/null | tr "\n\t" "; ")"
done
[ -z "$(tshark -r "$WORK/game.pcapng" -o "emberrealms.port:$PORT" -Y '_ws.malformed || _ws.expert.severity == error' 2>/dev/null)" ] ||
    fail "malformed packets in the capture"
ctl exit >/dev/null || fail "exit"
wait_until '! kill -0 "$SERVICE_PID" 2>/dev/null'
rc=0 && wait "$SERVICE_PID" || rc=$?
[ "$rc" = 0 ] || fail "the service ended with $rc: $(cat "$WORK/err")"
grep -q 'EmberRealms Server Port' "$STATE/.config/EmberRealms/EmberRealms.ini" || fail "settings not written"

# Removed: nothing of the package is left but the state folder.
dpkg -r emberrealms >"$WORK/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$WORK/dpkg.log")"
for path in /usr/lib/*/wireshark/plugins/emberrealms.lua /usr/bin/emberrealms-server /usr/bin/emberrealms-ctl /usr/bin/er-bot /usr/bin/er-quest \
    /usr/share/emberrealms "$UNIT" /usr/share/doc/emberrealms; do
    [ ! -e "$path" ] || fail "$path is left after removal"
done
[ -d "$STATE/world" ] || fail "the state folder went with the package"
echo "package: ok"

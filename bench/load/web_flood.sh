#!/usr/bin/env bash
# The web console under a flood of bad requests: does the game tick notice? The real server
# hosts the default world with 20 er-bot players walking; the stats command's tick figures
# (its last minute of ticks) are read after a quiet minute, after a minute of web_flood.py's
# bad requests (no token, a wrong token, an oversized header) at RATE a second aimed at a
# stand-in listener (the machine as busy, the server untouched), and after a minute of the
# same aimed at the web console.
#   web_flood.sh BUILD_DIR [--rate 1000] [--window 65]
set -euo pipefail
BUILD=${1:?usage: web_flood.sh BUILD_DIR [--rate N] [--window S]}
shift
RATE=1000 WINDOW=65
while [ $# -gt 0 ]; do
    case $1 in
    --rate) RATE=$2 ;;
    --window) WINDOW=$2 ;;
    *) echo "web_flood.sh: unknown option $1" >&2 && exit 2 ;;
    esac
    shift 2
done
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/config/EmberRealms"
printf '[General]\nEmberRealms Server Port=0\n' >"$WORK/config/EmberRealms/EmberRealms.ini"
cp -r "$HERE/../../gamedata" "$WORK/world"
mkfifo "$WORK/in"
XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK" "$BUILD/bin/emberrealms-server" --headless \
    --start --data "$WORK/world" --web-console 127.0.0.1:0 <"$WORK/in" >"$WORK/out" 2>"$WORK/err" &
SERVER_PID=$!
exec 7>"$WORK/in"
until_true() {
    local deadline=$((SECONDS + 20))
    until eval "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || { echo "web_flood.sh: timed out: $1" >&2 && exit 1; }
        sleep 0.05
    done
}
until_true "grep -q 'web console at' '$WORK/err'"
WEB_PORT=$(sed -n 's|.*web console at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$WORK/err")
inodes=" $(find "/proc/$SERVER_PID/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
GAME_PORT=$(awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "0x", $2); print $2 }' \
    /proc/net/udp | xargs printf '%d\n' | grep -vx 6073 | head -n 1)
"$BUILD/bin/er-bot" load "127.0.0.1:$GAME_PORT" --players 20 --duration $((3 * WINDOW + 30)) \
    >"$WORK/bots" 2>&1 &
ctl() { "$BUILD/bin/emberrealms-ctl" --socket "$WORK/emberrealms/control.sock" "$@"; }
until_true "ctl players 2>/dev/null | grep -q '^19 '"
lateness() { ctl stats | sed -n 's/^Tick lateness (ms, last \([0-9]*\) ticks): /\1 ticks: /p'; }

sleep "$WINDOW"  # a quiet minute of ticks, the window the stats command reports
quiet=$(lateness)
# The same flood at a stand-in listener: the machine as busy, the server not involved.
decoy=$(python3 "$HERE/web_flood.py" decoy --rate "$RATE" --duration "$WINDOW")
beside=$(lateness)
flood=$(python3 "$HERE/web_flood.py" "$WEB_PORT" --rate "$RATE" --duration "$WINDOW")
flooded=$(lateness)
echo "tick lateness, quiet:                  $quiet"
echo "tick lateness, flood at a stand-in:    $beside"
echo "tick lateness, flood at the console:   $flooded"
echo "stand-in: $decoy"
echo "console:  $flood"
echo "players: $(ctl status | sed -n 's/^Players in Game: //p')"

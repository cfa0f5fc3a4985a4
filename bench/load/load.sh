#!/usr/bin/env bash
# The load benchmark: the real server on a port the system chooses, driven by er-bot load at
# each step of players, one table row a step. Usage:
#   load.sh BUILD_DIR [--players "250 500 1000"] [--pattern spread|crowd] [--duration S]
#                     [--join-rate N]
# Each step starts from an empty server (the previous step's players have left). Rates are the
# server's: "in" is what the players sent, "out" what they received; the tick figures are the
# stats command's after the step (its last minute of ticks); the server's CPU is measured
# while er-bot measures, once every player has joined. After each step the raw-UDP pair
# (udp-pair) sends and answers the same datagrams per second with no protocol behind them:
# "udp cpu%" is what its echo side used, "x udp" the server's CPU as a multiple of it.
set -euo pipefail

BUILD=${1:?usage: load.sh BUILD_DIR [--players "N ..."] [--pattern P] [--duration S]}
shift
STEPS="250 500 1000 2000 4000" PATTERN=spread DURATION=10 JOIN_RATE=100
while [ $# -gt 0 ]; do
    case $1 in
    --players) STEPS=$2 ;;
    --pattern) PATTERN=$2 ;;
    --duration) DURATION=$2 ;;
    --join-rate) JOIN_RATE=$2 ;;
    *) echo "load.sh: unknown option $1" >&2 && exit 2 ;;
    esac
    shift 2
done
SERVER="$BUILD/bin/emberrealms-server" BOT="$BUILD/bin/er-bot" PAIR="$BUILD/bin/udp-pair"
GAMEDATA="$(cd "$(dirname "$0")/../../gamedata" && pwd)"
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/config/EmberRealms"
printf '[EmberRealms]\nEmberRealms Server Port=0\n' >"$WORK/config/EmberRealms/EmberRealms.ini"
cp -r "$GAMEDATA" "$WORK/world"
mkfifo "$WORK/in"
XDG_CONFIG_HOME="$WORK/config" "$SERVER" --headless --start --data "$WORK/world" \
    <"$WORK/in" >"$WORK/out" 2>"$WORK/err" &
SERVER_PID=$!
exec 7>"$WORK/in"

until_true() {  # CONDITION: waits up to 20 s
    local deadline=$((SECONDS + 20))
    until eval "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || { echo "load.sh: timed out: $1" >&2 && exit 1; }
        sleep 0.05
    done
}
# The game port: the server's UDP socket other than the enumeration port.
game_port() {
    local inodes
    inodes=" $(find "/proc/$SERVER_PID/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
    awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "0x", $2); print $2 }' \
        /proc/net/udp | xargs -r printf '%d\n' | grep -vx 6073 | head -n 1
}
until_true '[ -n "$(game_port)" ]'
PORT=$(game_port)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/${1:-$SERVER_PID}/stat"; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$SERVER_PID/status"; }
stats() {  # the stats command's answer
    : >"$WORK/out"
    echo stats >&7
    until_true "grep -q '^Tick CPU time' '$WORK/out'"
    cat "$WORK/out"
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }
HZ=$(getconf CLK_TCK)
idle_rss=$(rss_kib)

# The raw-UDP pair on the datagrams of a step: the CPU share its echo side used.
raw_udp_cpu() {  # PLAYERS DATAGRAMS_PER_SECOND
    coproc ECHO { exec "$PAIR" echo --reply 300; }
    local port echo_pid=$ECHO_PID
    read -r port <&"${ECHO[0]}"
    local c0 s0 c1 s1
    c0=$(cpu_ticks "$echo_pid") s0=$(date +%s.%N)
    "$PAIR" drive "$port" --players "$1" --duration "$DURATION" --size 36 \
        --rate "$(awk -v r="$2" -v n="$1" 'BEGIN { printf "%.2f", r / n }')" >/dev/null
    c1=$(cpu_ticks "$echo_pid") s1=$(date +%s.%N)
    exec {ECHO[1]}>&-
    wait "$echo_pid" || true
    awk -v a="$c0" -v b="$c1" -v s="$s0" -v e="$s1" -v hz="$HZ" \
        'BEGIN { printf "%.1f", 100 * (b - a) / hz / (e - s) }'
}

printf '%-7s %-6s %-6s %-8s %-17s %-17s %-16s %-14s %-8s %-7s %-7s %-8s %-6s %s\n' players \
    joined cpu% rss/plr "msgs/s in/out" "dgrams/s in/out" "tick p50/p99/max" "rtt p50/p99" \
    npc_upd dropped g_lost "udp cpu%" "x udp" "(pattern $PATTERN, ${DURATION} s a step)"
for players in $STEPS; do
    cpu0=$(cpu_ticks) start=$(date +%s.%N) most_rss=0 measuring=
    "$BOT" load "127.0.0.1:$PORT" --players "$players" --duration "$DURATION" \
        --pattern "$PATTERN" --join-rate "$JOIN_RATE" >"$WORK/bot" 2>&1 &
    bot_pid=$!
    while kill -0 "$bot_pid" 2>/dev/null; do
        rss=$(rss_kib) && [ "$rss" -gt "$most_rss" ] && most_rss=$rss
        if [ -z "$measuring" ] && grep -q 'measuring for' "$WORK/bot"; then
            measuring=1 cpu0=$(cpu_ticks) start=$(date +%s.%N) measured_until=$((SECONDS + DURATION))
        elif [ "$measuring" = 1 ] && [ "$SECONDS" -ge "$measured_until" ]; then
            measuring=2 cpu1=$(cpu_ticks) end=$(date +%s.%N)
        fi
        sleep 0.2
    done
    wait "$bot_pid" || true
    [ "$measuring" = 2 ] || cpu1=$(cpu_ticks) end=$(date +%s.%N)
    result=$(grep '^RESULT ' "$WORK/bot" || true)
    [ -n "$result" ] || { echo "load.sh: er-bot gave no result:" >&2 && cat "$WORK/bot" >&2 && exit 1; }
    tick=$(stats | sed -n 's/^Tick lateness.*: p50 \([0-9.]*\) p99 \([0-9.]*\) max \([0-9.]*\)$/\1\/\2\/\3/p')
    joined=$(field joined "$result")
    cpu=$(awk -v a="$cpu0" -v b="$cpu1" -v s="$start" -v e="$end" -v hz="$HZ" \
        'BEGIN { printf "%.0f", 100 * (b - a) / hz / (e - s) }')
    per_player=$(awk -v r="$most_rss" -v i="$idle_rss" -v n="$joined" \
        'BEGIN { printf "%.1fK", (n > 0 ? (r - i) / n : 0) }')
    udp_cpu=$(raw_udp_cpu "$joined" "$(field dgrams_sent_per_s "$result")")
    times=$(awk -v c="$cpu" -v u="$udp_cpu" 'BEGIN { printf "%.1f", (u > 0 ? c / u : 0) }')
    printf '%-7s %-6s %-6s %-8s %-17s %-17s %-16s %-14s %-8s %-7s %-7s %-8s %-6s\n' \
        "$players" "$joined" \
        "$cpu" "$per_player" \
        "$(field msgs_sent_per_s "$result" | cut -d. -f1)/$(field msgs_recv_per_s "$result" | cut -d. -f1)" \
        "$(field dgrams_sent_per_s "$result" | cut -d. -f1)/$(field dgrams_recv_per_s "$result" | cut -d. -f1)" \
        "$tick" "$(field nearby_p50_ms "$result")/$(field nearby_p99_ms "$result")" \
        "$(field npc_updates "$result")" "$(field dropped "$result")" \
        "$(field guaranteed_lost "$result")" "$udp_cpu" "$times"
done
echo exit >&7
wait "$SERVER_PID"

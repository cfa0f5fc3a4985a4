# Runs the real program in a fresh directory with its own settings folder; waits poll with a deadline.
set -euo pipefail
E2E_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

SERVER=${1:?usage: test.sh PATH-TO-PROGRAM}
WORK=$(mktemp -d)
export XDG_CONFIG_HOME="$WORK/config"
SETTINGS="$XDG_CONFIG_HOME/EmberRealms/EmberRealms.ini"
SERVER_OUT="$WORK/stdout"
mkdir -p "$WORK/run" "$(dirname "$SETTINGS")"
cd "$WORK/run"
trap 'kill -KILL $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f ErrorChk.txt ]; then echo "--- ErrorChk.txt:" >&2; cat ErrorChk.txt >&2; echo >&2; fi
    [ -s "$WORK/stderr" ] && { echo "--- server stderr:" >&2; tail -n 20 "$WORK/stderr" >&2; }
    [ -s "$SERVER_OUT" ] && { echo "--- server output:" >&2; tail -n 20 "$SERVER_OUT" >&2; }
    exit 1
}

wait_until() {  # CONDITION [SECONDS, default 20]
    local deadline=$((SECONDS + ${2:-20}))
    until eval "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for: $1"
        sleep 0.02
    done
}

# Standard input from $1, or from a pipe that send writes when $1 is "pipe"; sets SERVER_PID.
start_server() {
    local input=$1
    shift
    [ "$input" != pipe ] || { input="$WORK/stdin" && rm -f "$input" && mkfifo "$input"; }
    : >"$SERVER_OUT"
    "$SERVER" "$@" <"$input" >>"$SERVER_OUT" 2>"$WORK/stderr" &
    SERVER_PID=$!
    [ "$input" != "$WORK/stdin" ] || exec 7>"$input"
}

send() { printf '%s\n' "$*" >&7; }

# Sends its arguments (if any), waits for the server to end and fails unless it exited with 0.
stop_server() {
    [ $# = 0 ] || send "$@"
    wait_until '! kill -0 "$SERVER_PID" 2>/dev/null'
    local rc=0
    wait "$SERVER_PID" || rc=$?
    [ "$rc" = 0 ] || fail "exit code $rc: $(cat "$WORK/stderr")"
}

# Sends status and waits for the whole listing, which then is all SERVER_OUT holds.
status() { : >"$SERVER_OUT"; send status; wait_until "grep -q '^New Rain Volume' '$SERVER_OUT'"; }
status_until() { wait_until "status; $1"; }
status_value() { grep "^$1 " "$SERVER_OUT" | tail -n 1 | cut -d' ' -f"$(($(wc -w <<<"$1") + 1))-"; }

# The hosted game's port: the server's UDP socket other than the enumeration port (one line).
game_port() {
    local inodes
    inodes=" $(find "/proc/${1:-$SERVER_PID}/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
    awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "0x", $2); print $2 }' \
        /proc/net/udp | xargs -r printf '%d\n' | grep -vx 6073
}

# Hosts a copy of the default world on a port the system chooses, with the settings' lines
# given (beyond the port) and the server options given; sets PORT to the game port.
host_world() {  # SETTINGS-LINES [SERVER-OPTIONS...]
    local lines=$1
    shift
    cp -r "$E2E_DIR/../../gamedata" "$WORK/world"
    rm -f "$WORK/world/ErrorChk.txt" "$WORK/world/scriptput.txt" "$WORK/world/webtoken.txt"
    printf '[General]\n%bEmberRealms Server Port=0\n' "$lines" >"$SETTINGS"
    start_server pipe --headless --start --data "$WORK/world" "$@"
    status_until '[ "$(status_value "Server Status:")" = "Server started." ]'
    PORT=$(game_port)
    [ "$(wc -l <<<"$PORT")" = 1 ] && [ "$PORT" -gt 0 ] || fail "no single game port: $PORT"
}

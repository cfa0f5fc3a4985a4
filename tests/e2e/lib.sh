# Helpers for the whole-program tests: each runs the real server in a fresh directory with its
# own settings folder. Nothing waits a fixed time; every wait polls a condition until a deadline.
set -euo pipefail

SERVER=${1:?usage: test.sh PATH-TO-emberrealms-server}
WORK=$(mktemp -d)
export XDG_CONFIG_HOME="$WORK/config"
SETTINGS="$XDG_CONFIG_HOME/EmberRealms/EmberRealms.ini"
mkdir -p "$WORK/run" "$(dirname "$SETTINGS")"
cd "$WORK/run"
trap 'kill -KILL $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f ErrorChk.txt ]; then echo "--- ErrorChk.txt:" >&2; cat ErrorChk.txt >&2; echo >&2; fi
    exit 1
}

# Evaluates the shell condition every 20 ms until it holds; fails after 20 s.
wait_until() {
    local deadline=$((SECONDS + 20))
    until eval "$1"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out waiting for: $1"
        sleep 0.02
    done
}

# Starts the server in the background, standard input from $1; sets SERVER_PID.
start_server() {
    local input=$1
    shift
    SERVER_OUT="$WORK/stdout"
    : >"$SERVER_OUT"
    "$SERVER" "$@" <"$input" >>"$SERVER_OUT" 2>"$WORK/stderr" &
    SERVER_PID=$!
}

# Starts the server headless with a pipe on its standard input, for send.
start_headless() {
    rm -f "$WORK/stdin"
    mkfifo "$WORK/stdin"
    start_server "$WORK/stdin" --headless "$@"
    exec 7>"$WORK/stdin"
}

send() { printf '%s\n' "$*" >&7; }

# Waits until the debug log holds the last line of the start-up.
wait_started() { wait_until "grep -qs 'WinMain: Reading Values from Registry' ErrorChk.txt"; }

# Voluntary context switches of the server's main thread: one at least per wake-up of its event
# loop, which the 50 ms game timer wakes.
loop_turns() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$SERVER_PID/task/$SERVER_PID/status"; }

# Waits until the event loop has woken ten more times, so that whatever was pending for it (an
# end of input, a timer) has been handled.
wait_loop_turns() {
    local target
    target=$(($(loop_turns) + 10))
    wait_until '{ kill -0 "$SERVER_PID" 2>/dev/null || fail "the server has stopped"; } &&
                [ "$(loop_turns)" -ge '"$target"' ]'
}

# Waits for the server to end; sets SERVER_RC. (A server still running at exit is killed.)
wait_server() {
    wait_until '! kill -0 "$SERVER_PID" 2>/dev/null'
    SERVER_RC=0
    wait "$SERVER_PID" || SERVER_RC=$?
}

# Sends status and waits for the whole listing, which then is all SERVER_OUT holds.
status() {
    : >"$SERVER_OUT"
    send status
    wait_until "grep -q '^New Rain Volume' '$SERVER_OUT'"
}

# Lists the status until the shell condition holds.
status_until() { wait_until "status; $1"; }

# The value the last listing shows for a field.
status_value() { grep "^$1 " "$SERVER_OUT" | tail -n 1 | cut -d' ' -f"$(($(wc -w <<<"$1") + 1))-"; }

# The UDP ports the server holds, one a line.
udp_ports() {
    local inodes hex
    inodes=" $(find "/proc/$SERVER_PID/fd" -lname 'socket:*' -printf '%l ' | tr -d 'socket:[]') "
    for hex in $(awk -v i="$inodes" 'FNR > 1 && index(i, " " $10 " ") { sub(/.*:/, "", $2); print $2 }' \
        /proc/net/udp /proc/net/udp6); do
        printf '%d\n' "0x$hex"
    done
}

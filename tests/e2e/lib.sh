# Helpers for the whole-program tests: each runs the real server in a fresh directory with its
# own settings folder. Every wait polls a condition until a deadline, never a fixed time.
set -euo pipefail

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

# Starts the server in the background, standard input from $1, or from a pipe that send writes
# when $1 is "pipe"; sets SERVER_PID. (Output is appended, so that status can empty the file.)
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

wait_started() { wait_until "grep -qs 'WinMain: Reading Values from Registry' ErrorChk.txt"; }

# Waits until the main thread has woken ten more times (the 50 ms game timer wakes its event
# loop), so that whatever was pending for it has been handled.
wait_loop_turns() {
    local turns="awk '/^voluntary_ctxt_switches/ { print \$2 }' /proc/$SERVER_PID/task/$SERVER_PID/status"
    wait_until "[ \"\$($turns)\" -ge $(($(eval "$turns") + 10)) ]"
}

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

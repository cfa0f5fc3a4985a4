# Helpers for the whole-program tests. Each test runs the real server in a fresh directory
# with its own settings folder.
set -euo pipefail

SERVER=${1:?usage: test.sh PATH-TO-emberrealms-server}
WORK=$(mktemp -d)
export XDG_CONFIG_HOME="$WORK/config"
SETTINGS="$XDG_CONFIG_HOME/EmberRealms/EmberRealms.ini"
mkdir -p "$WORK/run" "$XDG_CONFIG_HOME"
cd "$WORK/run"
trap 'rm -rf "$WORK"' EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f ErrorChk.txt ]; then echo "--- ErrorChk.txt:" >&2; cat ErrorChk.txt >&2; echo >&2; fi
    exit 1
}

# Starts the server headless with a pipe on its standard input; SERVER_PID, SERVER_OUT.
start_headless() {
    mkfifo "$WORK/stdin"
    SERVER_OUT="$WORK/stdout"
    : >"$SERVER_OUT"
    "$SERVER" --headless "$@" <"$WORK/stdin" >>"$SERVER_OUT" 2>"$WORK/stderr" &
    SERVER_PID=$!
    exec 7>"$WORK/stdin"
}

# Sends one console command.
send() { printf '%s\n' "$*" >&7; }

# Waits for the server to end; sets SERVER_RC.
wait_server() {
    local i
    for i in $(seq 1 100); do
        kill -0 "$SERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$SERVER_PID" 2>/dev/null && { kill -KILL "$SERVER_PID"; fail "server did not stop"; }
    set +e
    wait "$SERVER_PID"
    SERVER_RC=$?
    set -e
}

# Waits until standard output holds a line matching the pattern.
wait_output() {
    local i
    for i in $(seq 1 100); do
        grep -q -- "$1" "$SERVER_OUT" && return 0
        sleep 0.05
    done
    fail "no output line matching '$1'; got: $(cat "$SERVER_OUT")"
}

# The value a status listing shows for a field, from the last listing printed.
status_value() {
    grep "^$1 " "$SERVER_OUT" | tail -n 1 | cut -d' ' -f"$(($(echo "$1" | wc -w) + 1))-"
}

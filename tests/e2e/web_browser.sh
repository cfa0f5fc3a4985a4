#!/usr/bin/env bash
# The web console in a real browser: Debian's headless Chromium, driven by puppeteer-core
# (tests/web/console_test.mjs), against the real server hosting the default world with two
# er-bot players walking. The page must show every console field, the map with every screen,
# NPC and player where the server has them, start rain from its form and see the sky change.
# The screenshot it takes is kept as web-console.png in the build folder (docs/web-console.md
# shows it; `make web-screenshot` copies it there).
#   web_browser.sh SERVER ER-BOT SCREENSHOT
WEB="$(cd "$(dirname "$0")/../web" && pwd)"
source "$(dirname "$0")/lib.sh"
BOT=${2:?usage: web_browser.sh SERVER ER-BOT SCREENSHOT}
SHOT=${3:?usage: web_browser.sh SERVER ER-BOT SCREENSHOT}
command -v node >/dev/null && [ -x /usr/bin/chromium ] || { echo "SKIP: no node or chromium"; exit 77; }
[ -d "$WEB/node_modules/puppeteer-core" ] || (cd "$WEB" && flock "$WEB/package.json" npm ci --silent) ||
    fail "npm ci in $WEB"

host_world "" --web-console 127.0.0.1:0
WEB_PORT=$(sed -n 's|.*web console at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$WORK/stderr")
TOKEN=$(cat "$WORK/world/webtoken.txt")

# Two players walking their circles near the square until the browser is done.
"$BOT" load "127.0.0.1:$PORT" --players 2 --duration 120 --rate 10 --pattern crowd \
    --name-prefix walker >"$WORK/bots" 2>&1 &
BOTS=$!
status_until '[ "$(status_value "Players in Game:")" = 2 ]'
printf '{"players":["walker0","walker1"],"npcs":["Gate Guard","Tom the Crier","Hobb the Merchant"]}\n' \
    >"$WORK/expect.json"
node "$WEB/console_test.mjs" --url "http://127.0.0.1:$WEB_PORT" --token "$TOKEN" \
    --expect "$WORK/expect.json" --screenshot "$SHOT" >"$WORK/browser" 2>&1 ||
    fail "the browser test: $(cat "$WORK/browser")"
cat "$WORK/browser"
kill "$BOTS" 2>/dev/null || true
stop_server exit
echo PASS

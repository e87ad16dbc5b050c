#!/usr/bin/env bash
# Phones as buttons in a real browser: the sample table with its phone server
# on loopback, under a private X server (for the host panel's picture), and
# headless Chromium phones reaching it through a proxy that delays every chunk
# by up to 40 ms, as Wi-Fi would. The checks are tests/browser/phones.test.mjs;
# it leaves phone-page.png and host-panel-phones.png in $E2E_OUT.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
BROWSER_DIR="$(cd "$(dirname "$0")/../browser" && pwd)"
TABLE="$(dirname "$ZUMBLE")/samples/table/quiz.zmt"
[ -f "$TABLE" ] || fail "no sample table at $TABLE"
[ -x /usr/bin/chromium ] || fail "no /usr/bin/chromium (scripts/install-deps --test installs it)"
[ -d "$BROWSER_DIR/node_modules/puppeteer-core" ] || fail "no puppeteer-core in $BROWSER_DIR (scripts/install-deps --test)"

PROFILE=$(mktemp -d)
cleanup() {
    # The browser test first: on SIGTERM it ends its Chromium.
    kill ${NODE_PID:-} ${PROXY_PID:-} 2>/dev/null || true
    stop_display
    rm -rf "$PROFILE"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
start_display

SDL_AUDIODRIVER=dummy "$ZUMBLE" --table "$TABLE" --phones-loopback >"$OUT_DIR/phones.out" 2>"$OUT_DIR/phones.log" &
APP_PID=$!
printed_or_ended() { grep -q '^http://' "$OUT_DIR/phones.out" || ended; }
retry 400 printed_or_ended
grep -q '^http://' "$OUT_DIR/phones.out" || fail "the table printed no address: $(tail -n 3 "$OUT_DIR/phones.log")"
ADDRESS=$(head -n 1 "$OUT_DIR/phones.out")
[[ "$ADDRESS" =~ ^http://127\.0\.0\.1:([0-9]+)/\?room=([A-Z0-9]+)$ ]] || fail "not a loopback address: $ADDRESS"
PORT=${BASH_REMATCH[1]}
ROOM=${BASH_REMATCH[2]}
PANEL=$(wait_titled "早押し卓 — 司会") || fail "the host panel never appeared"
place_window "$PANEL" 300 300
pass "the table serves phones at $ADDRESS"

node "$BROWSER_DIR/delay-proxy.mjs" "$PORT" 40 >"$OUT_DIR/proxy.out" 2>"$OUT_DIR/proxy.log" &
PROXY_PID=$!
retry 200 grep -q '^[0-9]' "$OUT_DIR/proxy.out" || fail "the delaying proxy did not start"
VIA="http://127.0.0.1:$(head -n 1 "$OUT_DIR/proxy.out")/?room=$ROOM"

CHROME_PROFILE="$PROFILE" node "$BROWSER_DIR/phones.test.mjs" "$VIA" "$PROXY_PID" "$OUT_DIR" "$PANEL" &
NODE_PID=$!
rc=0
wait "$NODE_PID" || rc=$?
NODE_PID=""
[ "$rc" = 0 ] || fail "the browser test failed (status $rc)"
alive || fail "the table ended during the test"
pass "phones as buttons through the browser"

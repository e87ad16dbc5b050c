# Shared by the end-to-end scripts: a private X server with a window manager,
# and small helpers around xdotool, xprop and ImageMagick.
set -euo pipefail

OUT_DIR="${E2E_OUT:-$(mktemp -d)}"
mkdir -p "$OUT_DIR"

start_display() {
    local fdfile; fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
    export DISPLAY=":$(cat "$fdfile")"
    rm -f "$fdfile"
    openbox >/dev/null 2>&1 &
    WM_PID=$!
    sleep 0.5
}

stop_display() {
    [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null || true
    kill "${WM_PID:-}" "${XVFB_PID:-}" 2>/dev/null || true
}
trap stop_display EXIT

fail() { echo "FAIL: $*"; exit 1; }
pass() { echo "ok: $*"; }

# Runs "$@" every 50 ms until it succeeds, at most $1 times; false when it
# never does. Tests wait for an effect with it instead of sleeping.
retry() {
    local n=$1
    shift
    for _ in $(seq "$n"); do "$@" && return 0; sleep 0.05; done
    return 1
}

# The first visible window matching xdotool's search options "$@"; prints its id.
visible() {
    local id
    id=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && echo "$id"
}

# Waits for the visible top-level window of the given class; prints its id.
wait_window() { retry 100 visible --class "$1"; }

# The program's visible window whose title is exactly $1 (a title of another
# program's window does not count); prints its id.
titled() {
    local id
    for id in $(xdotool search --onlyvisible --class Zumble1 2>/dev/null || true); do
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && { echo "$id"; return 0; }
    done
    return 1
}
not_titled() { ! titled "$1" >/dev/null; }
wait_titled() { retry "${2:-100}" titled "$1"; }
titled_gone() { retry "${2:-100}" not_titled "$1"; }

alive() { kill -0 "$APP_PID" 2>/dev/null; }
ended() { ! alive; }

# Waits for the program to end by itself; fails unless it ends with status 0.
expect_clean_end() {
    retry 60 ended || fail "$1 did not end the program"
    local rc=0
    wait "$APP_PID" || rc=$?
    APP_PID=""
    [ "$rc" = 0 ] || fail "the program ended with status $rc"
}

net_wm_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null || true; }

# The program's override-redirect windows (its popup menus) currently mapped.
popup_windows() {
    xwininfo -root -children 2>/dev/null | awk '/^ +0x/ && /"Zumble1"/ {print $1}' | while read -r w; do
        info=$(xwininfo -id "$w" 2>/dev/null || true)
        case "$info" in *"IsViewable"*"Override Redirect State: yes"*) echo "$w" ;; esac
    done
}

popup_shown() { [ -n "$(popup_windows)" ]; }

# Moves window $1 to $2,$3 and waits until it is there; leaves its geometry
# in X, Y, WIDTH and HEIGHT.
placed_at() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    [ "$X" = "$2" ] && [ "$Y" = "$3" ]
}
place_window() {
    xdotool windowmove "$1" "$2" "$3"
    retry 40 placed_at "$@" || true
}

# Colour of one screen pixel as RRGGBB.
screen_pixel() { import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- | sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'; }

# Waits until the screen pixel at x y satisfies the shell test "$3" on its
# RRGGBB value (read as $P); false after about five seconds.
pixel_is() {
    P=$(screen_pixel "$1" "$2")
    eval "$3"
}
wait_pixel() {
    local P
    retry 100 pixel_is "$@" && return 0
    echo "pixel at $1,$2 is $P" >&2
    return 1
}

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

# Waits for the visible top-level window of the given class; prints its id.
wait_window() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --class "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

alive() { kill -0 "$APP_PID" 2>/dev/null; }

net_wm_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null || true; }

# The program's override-redirect windows (its popup menus) currently mapped.
popup_windows() {
    xwininfo -root -children 2>/dev/null | awk '/^ +0x/ && /"Zumble1"/ {print $1}' | while read -r w; do
        info=$(xwininfo -id "$w" 2>/dev/null || true)
        case "$info" in *"IsViewable"*"Override Redirect State: yes"*) echo "$w" ;; esac
    done
}

# Moves window $1 to $2,$3 and waits until it is there; leaves its geometry
# in X, Y, WIDTH and HEIGHT.
place_window() {
    xdotool windowmove "$1" "$2" "$3"
    for _ in $(seq 40); do
        eval "$(xdotool getwindowgeometry --shell "$1")"
        [ "$X" = "$2" ] && [ "$Y" = "$3" ] && return 0
        sleep 0.05
    done
}

# Colour of one screen pixel as RRGGBB.
screen_pixel() { import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- | sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p'; }

# Waits until the screen pixel at x y satisfies the shell test "$3" on its
# RRGGBB value (read as $P); false after about five seconds.
wait_pixel() {
    local P
    for _ in $(seq 100); do
        P=$(screen_pixel "$1" "$2")
        eval "$3" && return 0
        sleep 0.05
    done
    echo "pixel at $1,$2 is $P" >&2
    return 1
}

# The first visible window whose title is exactly $1; prints its id.
wait_title() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

#!/usr/bin/env bash
# Starts the real sorvdemo under a virtual X display with the demo data, opens each of its main
# windows from the keyboard as a user would, and writes a screenshot of each into docs/screenshots/
# (or the folder given). A window that does not open (the picture does not change) fails the run.
#
# Usage: scripts/screenshots.sh [--build DIR] [--out DIR] [--scale FACTOR]
#   the build folder is build/ (or $SORV_BUILD_DIR) unless --build names another.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
out="$root/docs/screenshots"
scale=""
build="${SORV_BUILD_DIR:-build}"
while [ $# -gt 0 ]; do
    case "$1" in
        --out) out="$2"; shift 2 ;;
        --scale) scale="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--out DIR] [--scale FACTOR]" >&2; exit 2 ;;
    esac
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac
for tool in Xvfb xdotool import compare; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x "$build/app/sorvdemo" ] && [ -x "$build/tools/sorvtool" ] || { echo "screenshots: build first" >&2; exit 1; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/sorvshots-XXXXXX")"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The demo's folder, as run.sh prepares it, and a home of its own so no user setting leaks in.
cp "$root"/app/texts/* "$work/"
"$build/tools/sorvtool" demo-data "$work" --customers 60 --people 400 >/dev/null
mkdir -p "$work/home"

# A free display.
display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "screenshots: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x860x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
if command -v openbox >/dev/null; then
    HOME="$work/home" openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    sleep 0.5
fi

(cd "$work" && HOME="$work/home" QT_QPA_PLATFORM=xcb ${scale:+QT_SCALE_FACTOR=$scale} \
    exec "$build/app/sorvdemo" >"$work/sorvdemo.log" 2>&1) &
program=$!
pids+=($program)

# Waits for a top-level window whose title starts with $1; prints its id.
window() {
    local id=""
    for _ in $(seq 1 300); do
        id="$(xdotool search --onlyvisible --name "^$1" 2>/dev/null | head -1 || true)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$program" 2>/dev/null || { echo "screenshots: sorvdemo ended" >&2; cat "$work/sorvdemo.log" >&2; return 1; }
        sleep 0.1
    done
    echo "screenshots: no window '$1' appeared" >&2
    return 1
}

frame="$(window 'B4/B5 Sorvex Demo')"
xdotool windowsize "$frame" 1100 720 windowmove "$frame" 20 20 2>/dev/null || true
sleep 2 # the notes open by themselves at start
shot() { import -window "$1" "$out/$2.png"; }
changed() { # number of pixels that differ between two pictures
    compare -metric AE "$1" "$2" null: 2>&1 | sed 's/[^0-9].*//' || true
}
keys() {
    xdotool windowactivate --sync "$frame" >/dev/null 2>&1 || xdotool windowfocus --sync "$frame"
    xdotool key --clearmodifiers --delay 80 "$@"
}

shot "$frame" main-window
failed=0
previous="$out/main-window.png"
# name | keys that open it from the frame's menu (the first item of a menu is active when it opens)
# | "pending" for a window the program does not have yet (reported, not a failure)
while IFS='|' read -r name path pending; do
    [ -z "$name" ] && continue
    # shellcheck disable=SC2086
    keys $path
    sleep 2
    kill -0 "$program" 2>/dev/null || { echo "screenshots: sorvdemo ended opening $name" >&2; cat "$work/sorvdemo.log" >&2; exit 1; }
    shot "$frame" "$name"
    n="$(changed "$previous" "$out/$name.png")"
    if [ "${n:-0}" -lt 500 ]; then
        if [ "$pending" = pending ]; then
            echo "screenshots: $name is not in the program yet" >&2
            rm -f "$out/$name.png"
            continue
        fi
        echo "screenshots: $name did not open (the window looks as before)" >&2
        failed=1
    elif [ "$pending" = pending ]; then
        echo "screenshots: $name opens now: take 'pending' off its line" >&2
    fi
    previous="$out/$name.png"
done <<'EOF'
customer-browse|alt+b Return|
people-browse|alt+b Down Return|
parent-child-browse|alt+b Down Down Return|
file-loaded-list|alt+b Down Down Down Return|
hand-coded-list|alt+b Down Down Down Down Return|
web-sites|alt+h Return|
quotes|alt+h Down Down Return|
EOF

# The help, a window of its own, on its contents.
keys alt+h Down Down Down Return
help="$(window 'sorvdemo Help')" || exit 1
xdotool windowsize "$help" 1000 680 2>/dev/null || true
sleep 1
shot "$help" help
for f in "$out"/main-window.png "$out"/help.png; do
    [ -s "$f" ] || { echo "screenshots: $f was not made" >&2; failed=1; }
done
[ "$failed" = 0 ] || exit 1
echo "screenshots written to $out"

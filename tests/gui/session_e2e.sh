#!/bin/sh
# End-to-end: korw-gui on a virtual X display, a session typed with xdotool (a new working
# directory made in the selector, data, a fit kept, a plot, help, the editor, a program's
# picture answered, QUIT), then the saved .OUT file checked. Skips (77) when Xvfb or xdotool is
# not installed.
# Usage: session_e2e.sh KORW_GUI [SCREENSHOT_DIR]
set -u
gui=$(realpath "$1")
shots=${2:-}
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
root=$(mktemp -d)
xvfb=""
gui_pid=""
cleanup() {
    [ -n "$gui_pid" ] && kill "$gui_pid" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT

# Whether the display answers; xdpyinfo when installed, else xdotool.
answers() {
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo -display "$1" >/dev/null 2>&1
    else
        DISPLAY=$1 xdotool getdisplaygeometry >/dev/null 2>&1
    fi
}

# A display of our own: Xvfb picks a free number itself (no race with other servers) and says
# which; the display must accept connections before anything is started on it.
start_display() {
    exec 3>"$root/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$root/xvfb.log" 2>&1 &
    xvfb=$!
    exec 3>&-
    for _ in $(seq 100); do
        kill -0 "$xvfb" 2>/dev/null || return 1
        if [ -s "$root/display" ] && answers ":$(cat "$root/display")"; then
            DISPLAY=":$(cat "$root/display")"
            return 0
        fi
        sleep 0.1
    done
    return 1
}
start_display || { echo "skipped: no virtual display came up: $(cat "$root/xvfb.log")"; exit 77; }
export DISPLAY
unset KORW_ROOT

fail() { echo "FAIL: $*"; exit 1; }
shot() { [ -n "$shots" ] && command -v import >/dev/null 2>&1 && import -window root "$shots/$1.png"; }
key() { xdotool key --delay 40 "$@"; sleep 0.3; }
typeline() { xdotool type --delay 20 "$1"; key Return; }

(cd "$root" && exec "$gui" --root "$root") >"$root/gui.log" 2>&1 &
gui_pid=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^KORW' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "no window; log: $(cat "$root/gui.log")"
xdotool windowfocus --sync "$window" 2>/dev/null
sleep 0.5

# The selector: Escape goes to the name edit, where a new directory is made and chosen.
key Escape
key ctrl+a
typeline "$root/work"
sleep 0.5
[ -d "$root/work" ] || fail "the working directory was not made"

typeline "v x y 20"
typeline " x = #"
typeline " y = 2*x+3+x*x/50"
typeline "fitlin y = 1 + x"
sleep 0.5
shot fit
key Return                      # keep the analysis of variance table
typeline "pl x y"
sleep 0.5
shot plot
key Escape                      # close the picture
key F1
shot help
key Escape
typeline "ed demo"
xdotool type --delay 20 "LIST x"
sleep 0.3
shot editor
key Escape                      # leave the editor (asks whether to save)
shot leave
key Return                      # Yes
# A program's picture answered by Space gives the keyboard back: the next line typed runs.
printf 'PLOT x y\nREMARK done\n' >"$root/work/pic2.KOR"
typeline "run pic2"
sleep 0.5
key space
typeline "REMARK typed"
sleep 0.3
xdotool search --onlyvisible --name 'Save picture' >/dev/null 2>&1 &&
    fail "the picture kept the keyboard: Return offered to save it"
key Escape                      # the QUIT question on an empty line
key Return                      # QUIT
sleep 0.5
shot closing
key Return                      # the save dialog keeps KORW1.OUT
for _ in $(seq 50); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui_pid" 2>/dev/null && fail "the window did not close"
gui_pid=""

out="$root/work/KORW1.OUT"
[ -f "$out" ] || fail "no $out; log: $(cat "$root/gui.log")"
for expected in "KORW> VARIATE x y 20" "KORW> FITLINEARNORMAL y = 1 + x" \
    "ANALYSIS OF VARIANCE TABLE" "KORW> PLOT x y" "KORW> EDIT demo" \
    "KORW: REMARK done" "KORW> REMARK typed" "KORW> QUIT" "End of session"; do
    grep -qF "$expected" "$out" || fail "missing in the .OUT file: $expected"
done
ls "$root/work"/*.JPG >/dev/null 2>&1 && fail "a picture was saved unasked"
[ -f "$root/work/demo.KOR" ] || fail "the editor did not save demo.KOR"
[ -f "$root/KORWOUT.TMP" ] && fail "KORWOUT.TMP left behind"
head -1 "$root/LASTDIR" | grep -qxF "$root/work" || fail "LASTDIR does not name the working directory"
echo "passed"

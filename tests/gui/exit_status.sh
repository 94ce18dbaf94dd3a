#!/bin/sh
# korw-gui's exit status and message when it cannot start: a wrong option exits with 2 and one
# line, no display with 1 and one line naming korw, instead of Qt's abort.
# Usage: exit_status.sh KORW_GUI
set -u
gui=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
mkdir "$root"
fail() { echo "FAIL: $*"; exit 1; }

# expect STATUS WORD command...: the status, one line on stderr holding WORD.
expect() {
    want=$1 word=$2
    shift 2
    "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    got=$?
    [ "$got" = "$want" ] || fail "$* exited with $got, not $want: $(cat "$tmp/err")"
    [ "$(wc -l <"$tmp/err")" = 1 ] || fail "$*: not one line: $(cat "$tmp/err")"
    grep -qF -- "$word" "$tmp/err" || fail "$*: no '$word' in: $(cat "$tmp/err")"
}

expect 2 /nonexistent "$gui" --root /nonexistent
expect 2 --nosuch "$gui" --nosuch
nodisplay="env -u DISPLAY -u WAYLAND_DISPLAY"
expect 1 "korw is the terminal console" $nodisplay -u QT_QPA_PLATFORM "$gui" --root "$root"
expect 1 "korw is the terminal console" $nodisplay QT_QPA_PLATFORM=xcb "$gui" --root "$root"
expect 1 "korw is the terminal console" $nodisplay QT_QPA_PLATFORM=wayland "$gui" --root "$root"
# Options are judged before the display.
expect 2 /nonexistent $nodisplay "$gui" --root /nonexistent
# Nothing is made in the root when there is no display.
[ -z "$(ls -A "$root")" ] || fail "files made in the root without a display: $(ls -A "$root")"
"$gui" --help >/dev/null 2>&1 || fail "--help did not succeed"
echo "passed"

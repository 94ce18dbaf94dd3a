# shellcheck shell=bash disable=SC2034,SC2119
# Shared by the terminal tests: korw runs in a detached tmux session of fixed size on a private
# socket, in a fresh root and working directory; keys go in with send-keys, the screen comes
# back with capture-pane. Every wait polls with a time limit instead of sleeping.
#
# Sourced with the korw executable as $1. Exits 77 (skipped) when tmux is missing, unless
# tmux_optional=1 is set first; a case that needs it then calls require_tmux.

korw=$(realpath "$1")
require_tmux() {
    if ! command -v tmux >/dev/null 2>&1; then
        echo "SKIP: tmux is not installed"
        exit 77
    fi
}
[ "${tmux_optional:-0}" = 1 ] || require_tmux

work=$(mktemp -d "${TMPDIR:-/tmp}/korwterm.XXXXXX")
root=$work/root
wd=$work/wd
mkdir -p "$root" "$wd"
sock=$work/tmux.sock
# Nothing of the user's: no ~/.korw, no ~/.inputrc, no tmux configuration.
export HOME=$work INPUTRC=/dev/null TERM=xterm-256color LC_ALL=C.UTF-8
# Seconds a wait may take before the test fails; generous for a loaded machine.
limit=${KORW_TERM_TIMEOUT:-15}

t() { tmux -S "$sock" -f /dev/null "$@"; }

# A korw still running when the server goes sees its terminal hang up and closes its session,
# writing into the root for a moment: the removal is retried until that is over.
cleanup() {
    t kill-server >/dev/null 2>&1
    for _ in $(seq 40); do
        rm -rf "$work" 2>/dev/null && return
        sleep 0.05
    done
    rm -rf "$work"
}
trap cleanup EXIT

# start NAME DIR ARGS...: korw ARGS in tmux session NAME, current directory DIR, 120x40.
# The shell around korw writes its exit status to a file: tmux does not always reap a pane's
# process, so its own record of the status cannot be relied on. The pane stays afterwards.
start() {
    name=$1 dir=$2
    shift 2
    rm -f "$work/status.$name"
    command="env TERM=screen $(printf '%q ' "$korw" "$@"); echo \$? >$work/status.$name.new; mv $work/status.$name.new $work/status.$name"
    t new-session -d -s "$name" -x 120 -y 40 -c "$dir" "$command" \; \
        set-option -t "$name" remain-on-exit on
}

# start_korw ARGS...: the usual session "k" with the test's root, in the working directory.
start_korw() { start k "$wd" --root "$root" "$@"; }

screen() { t capture-pane -p -J -t "${1:-k}" | sed 's/ *$//'; }
screen_sgr() { t capture-pane -p -e -J -t "${1:-k}"; }

# The line the cursor is on, trailing blanks removed.
cursor_line() {
    y=$(t display-message -p -t "${1:-k}" '#{cursor_y}')
    t capture-pane -p -t "${1:-k}" -S "$y" -E "$y" | sed 's/ *$//'
}

keys() { t send-keys -t k "$@"; }
type_text() { t send-keys -t k -l "$1"; }

fail() {
    echo "FAIL: $*"
    if [ -S "$sock" ]; then
        echo "--- screen:"
        screen "${pane:-k}" 2>/dev/null
    fi
    exit 1
}

# poll DESCRIPTION COMMAND...: runs COMMAND until it succeeds, or fails the test after $limit s.
poll() {
    what=$1
    shift
    end=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for $what"
        sleep 0.05
    done
}

has_text() { screen "$pane" | grep -qF -- "$1"; }
has_match() { screen "$pane" | grep -qE -- "$1"; }
line_is() { [ "$(cursor_line "$pane")" = "$1" ]; }

# wait_text TEXT [SESSION]: TEXT appears on the screen.
wait_text() {
    pane=${2:-k}
    poll "\"$1\" on the screen" has_text "$1"
}
wait_match() {
    pane=${2:-k}
    poll "a line matching /$1/" has_match "$1"
}
# wait_line TEXT [SESSION]: the cursor's line reads exactly TEXT.
wait_line() {
    pane=${2:-k}
    poll "the command line to read \"$1\"" line_is "$1"
}
# wait_exit [SESSION]: korw has ended; its exit status is put in $exit_status.
wait_exit() {
    pane=${1:-k}
    poll "korw to end" test -s "$work/status.$pane"
    exit_status=$(cat "$work/status.$pane")
}
wait_file_text() {
    poll "\"$2\" in $1" grep -qF -- "$2" "$1"
}

prompt="KORW>"
quit_question="KORW> QUIT ? (Press Return to quit, Escape to continue)"
save_prompt="Save sessions output file as ... [KORW1.OUT]:"

# Ends the session "k": QUIT, then Escape in the save dialog keeps nothing. Checks the status.
quit_korw() {
    type_text "QUIT"
    keys Enter
    wait_line "$save_prompt"
    keys Escape
    wait_exit
    [ "$exit_status" = 0 ] || fail "korw ended with status $exit_status"
}

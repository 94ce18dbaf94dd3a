#!/bin/bash
# The session files of one root across starts and closes: session_files_test.sh KORW CASE.
# Batch runs where they show the behaviour; the terminal (in tmux) for its question and for
# LASTDIR, which only the terminal's directory selector reads.
set -u
here=$(dirname "$(realpath "$0")")
tmux_optional=1
# shellcheck source=tmux_lib.sh
. "$here/tmux_lib.sh" "$1"
case_name=$2

question=(
    "$root/KORWOUT.TMP exists already."
    "Probably an KORW session under the same root"
    "directory is active. If this is the case, there"
    "will be file sharing conflicts.  Continue?"
)

# Size, time and contents of the session files, to see that nobody touched them.
snapshot() {
    (cd "$root" && for f in KORW.TMP KORWOUT.TMP; do
        stat -c '%n %s %y' "$f" && cksum "$f"
    done)
}

no_session_files() {
    [ -e "$root/KORW.TMP" ] && fail "KORW.TMP left in the root"
    [ -e "$root/KORWOUT.TMP" ] && fail "KORWOUT.TMP left in the root"
    return 0
}

# A first session that runs until end_first_session: a batch session reading a pipe.
start_first_session() {
    mkfifo "$work/in"
    (cd "$wd" && "$korw" --batch --root "$root" - <"$work/in" >"$work/first.out" 2>&1) &
    first=$!
    exec 3>"$work/in"
    echo "compute x=1" >&3
    poll "the first session to start" grep -qsF "KORW> COMPUTE x=1" "$root/KORWOUT.TMP"
    before=$(snapshot)
}

# It still works after the second start was refused, and its close removes the files.
end_first_session() {
    echo "compute y=2" >&3
    exec 3>&-
    wait "$first" || fail "the first session failed: $(cat "$work/first.out")"
    grep -qF "KORW> COMPUTE y=2" "$work/first.out" || fail "the first session lost a command"
    no_session_files
}

# A second start under a root in use asks before going on; No (batch mode without --yes)
# leaves the first session's files alone.
second_start() {
    start_first_session
    status=0
    (cd "$wd" && "$korw" --batch --root "$root" - </dev/null >"$work/second.out" 2>"$work/second.err") ||
        status=$?
    [ "$status" = 1 ] || fail "second batch start: status $status"
    printf '%s\n' "${question[@]:0:3}" "${question[3]} No" | diff - "$work/second.err" ||
        fail "second batch start: not the question"
    [ -s "$work/second.out" ] && fail "second batch start wrote $(cat "$work/second.out")"
    [ "$(snapshot)" = "$before" ] || fail "the first session's files changed: $(snapshot)"
    end_first_session
}

# The terminal asks the same and waits for the answer; n refuses.
second_start_terminal() {
    require_tmux
    start_first_session
    start second "$wd" --root "$root" 3>&- # the tmux server must not hold the pipe open
    wait_text "(y/n)" second
    screen second | grep -qxF "${question[3]}" || fail "no \"${question[3]}\""
    for line in "${question[@]:0:3}"; do screen second | grep -qxF "$line" || fail "no \"$line\""; done
    t send-keys -t second n
    wait_exit second
    [ "$exit_status" = 1 ] || fail "second terminal start: status $exit_status"
    [ "$(snapshot)" = "$before" ] || fail "the first session's files changed: $(snapshot)"
    [ -e "$root/LASTDIR" ] && fail "a refused start wrote LASTDIR"
    end_first_session
}

# Closing removes KORW.TMP and KORWOUT.TMP whatever ends the session: end of input, QUIT,
# a failed last command, keeping the output with --out; LASTDIR gets its six lines.
closing() {
    for input in "" "QUIT" "compute y=(1" "compute x=1"; do
        status=0
        (cd "$wd" && echo "$input" | "$korw" --batch --root "$root" - >"$work/out" 2>&1) ||
            status=$?
        no_session_files
        grep -q "^End of session after" "$work/out" || fail "\"$input\": no end of session"
    done
    [ "$status" = 0 ] || fail "status $status"
    (cd "$wd" && echo "compute x=1" | "$korw" --batch --root "$root" --out kept.out - >/dev/null) ||
        fail "--out run failed"
    no_session_files
    grep -qF "KORW> COMPUTE x=1" "$wd/kept.out" || fail "kept.out lacks the session"
    printf '%s\n' "$wd" 0 0 820 600 1 | diff - "$root/LASTDIR" || fail "LASTDIR"
    # The window measures and the hint flag of the desktop window stay; the directory changes.
    printf '%s\n' /elsewhere 10 20 1000 700 0 >"$root/LASTDIR"
    (cd "$wd" && "$korw" --batch --root "$root" - </dev/null >/dev/null) || fail "run failed"
    printf '%s\n' "$wd" 10 20 1000 700 0 | diff - "$root/LASTDIR" || fail "LASTDIR measures lost"
    # A file argument that is neither .KOR nor .KDS only chooses the working directory.
    mkdir -p "$work/txtdir" && echo "not a program" >"$work/txtdir/notes.txt"
    (cd "$wd" && "$korw" --batch --root "$root" "$work/txtdir/notes.txt" >"$work/out" 2>&1) ||
        fail "a .txt argument failed: $(cat "$work/out")"
    grep -qF "Working directory $work/txtdir" "$work/out" || fail "no working directory line"
    grep -q "RUN" "$work/out" && fail "a .txt argument was run"
    grep -q "IMPORT" "$work/out" && fail "a .txt argument was imported"
    no_session_files
    # A data file of another program starts in its directory and is imported by its name.
    mkdir -p "$work/csvdir" && printf 'a,b\n1,2\n' >"$work/csvdir/my data.CSV"
    (cd "$wd" && "$korw" --batch --root "$root" "$work/csvdir/my data.CSV" >"$work/out" 2>&1)
    grep -qF "Working directory $work/csvdir" "$work/out" || fail "no working directory line"
    grep -qxF 'KORW> IMPORT "my data.CSV"' "$work/out" || fail "no IMPORT: $(cat "$work/out")"
    no_session_files
}

# The terminal, closed by the end of its input (Ctrl+D) and a cancelled save.
closing_terminal() {
    require_tmux
    start_korw
    wait_line "$prompt"
    [ -e "$root/KORWOUT.TMP" ] || fail "no KORWOUT.TMP while the session runs"
    keys C-d
    wait_line "$save_prompt"
    keys Escape
    wait_exit
    [ "$exit_status" = 0 ] || fail "terminal: status $exit_status"
    no_session_files
    [ -z "$(ls "$wd")" ] || fail "the cancelled save kept $(ls "$wd")"
}

# The directory selector offers LASTDIR's directory, and the root's MISC when it is gone.
lastdir() {
    require_tmux
    mkdir "$work/gone" "$work/there"
    for named in gone there short; do
        case $named in
            short) echo "$work/there" >"$root/LASTDIR" ;; # one line of six: still read
            *) printf '%s\n' "$work/$named" 0 0 820 600 1 >"$root/LASTDIR" ;;
        esac
        expected=$work/there
        [ "$named" = gone ] && rmdir "$work/gone" && expected=$root/MISC
        start "s$named" "$wd" --root "$root" --select-dir
        pane=s$named
        wait_line "[$expected]:" "s$named"
        t send-keys -t "s$named" Enter
        wait_text "Working directory $expected" "s$named"
        wait_line "$prompt" "s$named"
        t send-keys -t "s$named" C-d
        wait_line "$save_prompt" "s$named"
        t send-keys -t "s$named" Escape
        wait_exit "s$named"
        [ "$exit_status" = 0 ] || fail "$named: status $exit_status"
        [ "$(sed -n 1p "$root/LASTDIR")" = "$expected" ] || fail "$named: LASTDIR $(cat "$root/LASTDIR")"
        [ "$(wc -l <"$root/LASTDIR")" = 6 ] || fail "$named: LASTDIR has not six lines"
    done

    # Escape cancels the selector's prompt: the offered directory is used, none is created.
    printf '%s\n' "$work/there" 0 0 820 600 1 >"$root/LASTDIR"
    start esc "$wd" --root "$root" --select-dir
    pane=esc
    wait_line "[$work/there]:" esc
    t send-keys -t esc -l "new"
    wait_line "[$work/there]: new" esc
    t send-keys -t esc Escape
    wait_line "[$work/there]:" esc
    t send-keys -t esc Escape
    wait_text "Working directory $work/there" esc
    [ -z "$(ls "$wd")" ] || fail "the selector made $(ls "$wd")"
    return 0
}

case "$case_name" in
    second_start | second_start_terminal | closing | closing_terminal | lastdir) "$case_name" ;;
    *)
        echo "unknown case $case_name"
        exit 2
        ;;
esac
echo "PASS: $case_name"

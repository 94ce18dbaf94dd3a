#!/bin/bash
# The terminal console in a real terminal: terminal_test.sh KORW CASE.
# Each case starts korw in a fresh root and working directory inside tmux (tmux_lib.sh).
set -u
here=$(dirname "$(realpath "$0")")
# shellcheck source=tmux_lib.sh
. "$here/tmux_lib.sh" "$1"
case_name=$2

# The command word is completed while it is typed; Escape empties a line with text.
completion() {
    start_korw
    wait_line "$prompt"
    # The window caption is the terminal's title.
    title=$(t display-message -p -t k '#{pane_title}')
    [ "$title" = "KORW from $wd" ] || fail "title \"$title\""
    type_text "fitlin"
    wait_line "$prompt FITLINEARNORMAL"
    type_text " y=x"
    wait_line "$prompt FITLINEARNORMAL y=x"
    keys Escape
    wait_line "$prompt"
    # A word that begins no command is taken back to the longest part that does.
    type_text "sumq"
    wait_line "$prompt SUMMARY"
    keys Escape
    wait_line "$prompt"
    # Ctrl+Return, as terminals with extended keys deliver it, cuts the line at the cursor.
    type_text "list abc"
    wait_line "$prompt L abc"
    keys Left Left
    t send-keys -t k -l $'\e[13;5u'
    wait_line "$prompt L a"
    keys Escape
    wait_line "$prompt"
    # A on an empty line runs INCLUDEALL at once, and the screen shows it.
    type_text "A"
    wait_file_text "$root/KORWOUT.TMP" "KORW> INCLUDEALL"
    wait_line "$prompt"
    screen | grep -qxF "$prompt INCLUDEALL" || fail "INCLUDEALL is not shown"
    quit_korw
}

# A failed command comes back in the line, in red, for editing; the log holds it, and Up
# recalls it as it was typed.
failed_command() {
    start_korw
    wait_line "$prompt"
    type_text "compute y=(1"
    keys Enter
    wait_text "Too many ("
    wait_line "$prompt COMPUTE y=(1"
    screen_sgr | grep -qF $'KORW> \e[31mCOMPUTE y=(1' ||
        fail "the kept command is not red: $(screen_sgr | grep -F 'y=(1' | cat -v)"
    grep -qF " *** ERROR - Too many ( ***" "$root/KORWOUT.TMP" ||
        fail "no error line in the session output"
    keys Escape
    wait_line "$prompt"
    type_text "compute y=2"
    keys Enter
    wait_line "$prompt"
    keys Up
    wait_line "$prompt COMPUTE y=2"
    keys Up
    wait_line "$prompt COMPUTE y=(1"
    # The line after a success is no longer red.
    keys Escape
    wait_line "$prompt"
    type_text "compute z=1"
    keys Enter
    wait_line "$prompt"
    screen_sgr | tail -n +2 | grep -F 'COMPUTE z=1' | grep -qF $'\e[31m' &&
        fail "a successful command was shown in red"
    quit_korw
}

# Results wait for review: Return keeps them in the session output, Escape leaves them out;
# Ctrl+P prints them and the review goes on.
result_review() {
    fake_printer
    start_korw
    wait_line "$prompt"
    type_text "keys af2 remark kept"
    keys Enter
    wait_line "$prompt"
    type_text "keys"
    keys Enter
    wait_text "Press Return to save output, Escape to suppress"
    wait_text "Print (All or selected portion) by Ctrl-P."
    wait_text "<Alt>-F2   remark kept"
    keys C-p
    wait_file_text "$work/printed" "<Alt>-F2   remark kept"
    grep -qF "KORW>" "$work/printed" && fail "the printed results hold the command line"
    wait_line "Print (All or selected portion) by Ctrl-P."
    keys Enter
    wait_line "$prompt"
    has_text "Press Return to save output" && fail "the review hint stayed on the screen"
    has_text "Print (All or selected" && fail "the print hint stayed on the screen"
    grep -qF "   <Alt>-F2   remark kept" "$root/KORWOUT.TMP" ||
        fail "accepted results are not in KORWOUT.TMP"

    type_text "keys af3 remark dropped"
    keys Enter
    wait_line "$prompt"
    type_text "keys"
    keys Enter
    wait_text "<Alt>-F3   remark dropped"
    wait_text "Press Return to save output, Escape to suppress"
    keys Escape
    wait_line "$prompt"
    wait_file_text "$root/KORWOUT.TMP" " *** OUTPUT SUPPRESSED ***"
    grep -qF "<Alt>-F3" "$root/KORWOUT.TMP" && fail "suppressed results reached KORWOUT.TMP"
    quit_korw
}

# Shortkeys defined with KEYS: the text goes in at the caret, "?" takes the word before the
# caret, a final "!" runs the command at once; the definitions outlive the session.
shortkey() {
    start_korw
    wait_line "$prompt"
    type_text "keys cf5 compute ?=7!"
    keys Enter
    wait_line "$prompt"
    type_text "keys af4 remark from a key"
    keys Enter
    wait_line "$prompt"
    keys M-F4
    wait_line "$prompt remark from a key"
    keys Escape
    wait_line "$prompt"
    # Ctrl with a digit, as terminals with extended keys deliver it (CSI u and modifyOtherKeys).
    type_text "keys c7 remark seven"
    keys Enter
    wait_line "$prompt"
    t send-keys -t k -l $'\e[55;5u'
    wait_line "$prompt remark seven"
    keys Escape
    wait_line "$prompt"
    t send-keys -t k -l $'\e[27;5;55~'
    wait_line "$prompt remark seven"
    keys Escape
    wait_line "$prompt"
    type_text "keys c7"
    keys Enter
    wait_line "$prompt"
    # "s" stays as typed (it begins several commands) and is the word the "?" takes.
    type_text "s"
    wait_line "$prompt S"
    keys C-F5
    wait_file_text "$root/KORWOUT.TMP" "KORW> COMPUTE S=7"
    wait_line "$prompt"
    # The executed text stays on the screen, as a typed command does.
    screen | grep -qxF "$prompt compute S=7" || fail "the executed shortkey text is not shown"
    # KEYS without a text frees the key: Ctrl+F5 then leaves the line as it is.
    type_text "keys cf5"
    keys Enter
    wait_line "$prompt"
    type_text "s"
    wait_line "$prompt S"
    keys C-F5
    type_text "u"
    wait_line "$prompt SU"
    keys Escape
    wait_line "$prompt"
    # Ctrl with C is kept for copying.
    type_text "keys cc compute"
    keys Enter
    wait_text "Invalid shortkey description CC"
    keys Escape
    wait_line "$prompt"
    quit_korw
    [ "$(cat "$root/SHORTKEY.TXT")" = "remark from a key" ] ||
        fail "SHORTKEY.TXT: $(cat "$root/SHORTKEY.TXT")"

    # The next session loads them: Alt+F4 still types its text.
    start k2 "$wd" --root "$root"
    pane=k2
    wait_line "$prompt" k2
    t send-keys -t k2 M-F4
    wait_line "$prompt remark from a key" k2
}

# Escape on an empty line asks whether to quit; Escape again goes back, Return quits. Closing
# offers to keep the output: Escape keeps nothing, a typed name keeps it under that name.
quit_question() {
    start_korw
    wait_line "$prompt"
    keys Escape
    wait_line "$quit_question"
    keys Escape
    wait_line "$prompt"
    keys Escape
    wait_line "$quit_question"
    keys Enter
    wait_line "$save_prompt"
    keys Escape
    wait_exit
    [ "$exit_status" = 0 ] || fail "korw ended with status $exit_status"
    [ -z "$(ls "$wd")" ] || fail "cancelling the save left $(ls "$wd")"
    [ -e "$root/KORW.TMP" ] || [ -e "$root/KORWOUT.TMP" ] && fail "session files left in the root"
    [ "$(head -1 "$root/LASTDIR")" = "$wd" ] || fail "LASTDIR: $(cat "$root/LASTDIR")"

    # The file name is typed as it stands: neither completed as a command word nor taken by
    # the keys of an empty command line ("1" would start SUMMARY); Tab completes the names of
    # output files only.
    : >"$wd/old-notes.txt"
    : >"$wd/old-notes.OUT"
    start k2 "$wd" --root "$root"
    pane=k2
    wait_line "$prompt" k2
    t send-keys -t k2 -l "QUIT"
    t send-keys -t k2 Enter
    wait_line "$save_prompt" k2
    t send-keys -t k2 -l "old"
    t send-keys -t k2 Tab
    wait_line "$save_prompt old-notes.OUT" k2
    t send-keys -t k2 Escape
    wait_line "$save_prompt" k2
    t send-keys -t k2 -l "1sum"
    wait_line "$save_prompt 1sum" k2
    t send-keys -t k2 Enter
    wait_exit k2
    [ "$exit_status" = 0 ] || fail "korw ended with status $exit_status"
    [ "$(ls "$wd")" = "$(printf '1sum.OUT\nold-notes.OUT\nold-notes.txt')" ] ||
        fail "not 1sum.OUT in the working directory: $(ls "$wd")"
    grep -q "^End of session after" "$wd/1sum.OUT" || fail "1sum.OUT is not the session output"
}

# A program looping for ever stops at Ctrl+C and at Escape, with the line it was on.
escape_program() {
    printf '%s\n' "% endless" "%top" "compute i=1" "GOTO %top 1" >"$wd/loop.kor"
    start_korw
    wait_line "$prompt"
    for key in C-c Escape; do
        since=$(stat -c %s "$root/KORWOUT.TMP")
        type_text "run loop"
        keys Enter
        poll "the program to run" output_since_has "KORW: GOTO %top 1"
        wait_match "Running KORW program loop - press Escape to interrupt"
        keys "$key"
        wait_match 'Escape from keyboard \(loop [0-9]+, line [2-4]\)'
        wait_line "$prompt"
        output_since_has " *** PROGRAM INTERRUPTED ***" || fail "$key: no PROGRAM INTERRUPTED"
        output_since_has " *** ERROR - Escape from keyboard (loop " ||
            fail "$key: no error line in the session output"
        # The session goes on.
        type_text "compute j=2"
        keys Enter
        poll "the next command" output_since_has "KORW> COMPUTE j=2"
        wait_line "$prompt"
        keys C-l
        t clear-history -t k
    done
    quit_korw
}

# A printer: lp on the PATH copies what it is given to $work/printed.
fake_printer() {
    mkdir -p "$work/bin"
    printf '#!/bin/sh\ncat "${1:--}" >>"%s"\necho "request id is test-1"\n' "$work/printed" \
        >"$work/bin/lp"
    chmod +x "$work/bin/lp"
    : >"$work/printed"
    export PATH="$work/bin:$PATH"
}

# The top line of the screen.
top_is() { [ "$(screen | head -1)" = "$1" ]; }
wait_top() { poll "the top line to read \"$1\"" top_is "$1"; }

# The help text in the pager: F1 shows it from the top, Ctrl+F1 at the present command's
# section; Ctrl+F searches ignoring case, Ctrl+L and Return repeat the search, Ctrl+End and
# Ctrl+Home go to the bottom and the top, Ctrl+P prints it, Escape (twice) leaves it.
help_window() {
    fake_printer
    start_korw
    wait_line "$prompt"
    keys F1
    wait_top "KORW, version $("$korw" --version | awk '{print $NF}')"
    wait_text "Help: Ctrl-F searches, Ctrl-L or Return repeats"
    # The search goes from line to line of the help text that holds the phrase.
    help=$(dirname "$korw")/KORWHELP.TXT
    match() { grep -i "the restriction" "$help" | sed -n "$1p" | sed 's/ *$//'; }
    [ -n "$(match 3)" ] || fail "the help text has fewer than three lines to find"
    keys C-f
    type_text "THE RESTRICTION"
    keys Enter
    wait_top "$(match 1)"
    keys C-l
    wait_top "$(match 2)"
    keys Enter
    wait_top "$(match 3)"
    keys C-Home
    wait_top "KORW, version $("$korw" --version | awk '{print $NF}')"
    keys C-End
    wait_text "(END)"
    keys C-p
    # Printed whole, from the top, however far down the view is.
    wait_file_text "$work/printed" "KORW - Interactive Korbelin - help text"
    wait_file_text "$work/printed" "$(tail -n 1 "$help")"
    keys Enter
    wait_text "(END)"
    keys Escape Escape
    wait_line "$prompt"
    has_text "request id is" && fail "what lp said stayed on the screen"
    type_text "summ"
    wait_line "$prompt SUMMARY"
    keys C-F1
    wait_top "SUMMARY"
    keys Escape Escape
    wait_line "$prompt SUMMARY"
    keys Escape
    wait_line "$prompt"
    # The session output file is shown in the same way and left by Return.
    type_text "show"
    keys Enter
    wait_match "^Start of session"
    wait_text "The sessions output file: Return or Escape twice leaves, Ctrl-P prints."
    keys Enter
    wait_line "$prompt"
    quit_korw
}

# IMPORT and EXPORT are typed as other commands (I then M is IMPORT, EX then P is EXPORT, I then
# N stays INCLUDE); Tab in their parameters offers the data files each reads or writes, case
# ignored, a name with a blank in double quotes; elsewhere Tab still offers vector names.
data_files() {
    : >"$wd/survey.csv"
    : >"$wd/Panel.DTA"
    : >"$wd/my data.tsv"
    : >"$wd/notes.txt"
    : >"$wd/nothing.kor"
    start_korw
    wait_line "$prompt"
    type_text "im"
    wait_line "$prompt IMPORT"
    keys Escape
    wait_line "$prompt"
    type_text "exp"
    wait_line "$prompt EXPORT"
    keys Escape
    wait_line "$prompt"
    type_text "in"
    wait_line "$prompt INCLUDE"
    keys Escape
    wait_line "$prompt"
    type_text "import su"
    keys Tab
    wait_line "$prompt IMPORT survey.csv"
    keys Escape
    wait_line "$prompt"
    type_text "import pan"
    keys Tab
    wait_line "$prompt IMPORT Panel.DTA"
    keys Escape
    wait_line "$prompt"
    type_text "import my"
    keys Tab
    wait_line "$prompt IMPORT \"my data.tsv\""
    keys Escape
    wait_line "$prompt"
    type_text "import no"
    keys Tab
    wait_line "$prompt IMPORT notes.txt"
    keys Escape
    wait_line "$prompt"
    # EXPORT writes no .txt file; a .kor file is no data file for either.
    type_text "export no"
    keys Tab
    sleep 0.3
    wait_line "$prompt EXPORT no"
    keys Escape
    wait_line "$prompt"
    type_text "variate surplus 1"
    keys Enter
    wait_line "$prompt"
    type_text "list su"
    keys Tab
    wait_line "$prompt L SURPLUS"
    keys Escape
    wait_line "$prompt"
    # A file prompt takes the name as it stands: no quotes around a completed name.
    : >"$wd/my set.KDS"
    type_text "getdata"
    keys Enter
    wait_line "Select KOR data set to GET:"
    type_text "my"
    keys Tab
    wait_line "Select KOR data set to GET: my set.KDS"
    keys Enter
    wait_file_text "$root/KORWOUT.TMP" "$wd/my set.KDS"
    wait_text "MY SET.KDS is not a Korbelin data set"
    wait_line "$prompt GETDATA"
    keys Escape
    wait_line "$prompt"
    quit_korw
}

# File dialogs: Tab offers the subdirectories and the files of the dialog's type only, in the
# working directory; "~" is the home directory.
file_dialog() {
    printf '%s\n' "VARIATE x 3" "COMPUTE x = #" "SAVEDATA trial x" >"$wd/make.kor"
    "$korw" --batch "$wd/make.kor" >/dev/null || fail "could not make a data set"
    mkdir -p "$wd/sub"
    cp "$wd/trial.KDS" "$wd/sub/inner.KDS"
    : >"$wd/trial.txt"
    : >"$wd/subject.txt"
    start_korw
    wait_line "$prompt"
    type_text "getdata"
    keys Enter
    wait_line "Select KOR data set to GET:"
    type_text "TRI"
    keys Tab
    wait_line "Select KOR data set to GET: trial.KDS"
    keys Escape
    wait_line "Select KOR data set to GET:"
    type_text "su"
    keys Tab
    wait_line "Select KOR data set to GET: sub/"
    keys Tab
    wait_line "Select KOR data set to GET: sub/inner.KDS"
    keys Enter
    wait_line "$prompt"
    wait_file_text "$root/KORWOUT.TMP" "Data set selected from dialog box:"
    grep -qxF "$wd/sub/inner.KDS" "$root/KORWOUT.TMP" || fail "the chosen data set is not named"
    # "~/" in a typed name is the home directory.
    cp "$wd/trial.KDS" "$HOME/home.KDS"
    type_text "delete x"
    keys Enter
    wait_line "$prompt"
    type_text "getdata *"
    keys Enter
    wait_line "Select KOR data set to GET:"
    # shellcheck disable=SC2088  # the tilde is typed, for korw to expand
    type_text "~/home.KDS"
    keys Enter
    wait_line "$prompt"
    wait_file_text "$root/KORWOUT.TMP" "$HOME/home.KDS"
    # EDIT on a directory is refused before ".KOR" is added to the name.
    type_text "edit sub"
    keys Enter
    wait_text "sub is a directory name"
    keys Escape
    wait_line "$prompt"
    [ -e "$wd/sub.KOR" ] && fail "EDIT made sub.KOR"
    quit_korw
}

# A picture waits for a key: Return offers the save dialog with the first free KORWn.JPG, whose
# Tab offers JPEG and bitmap files only; the picture is saved as a bitmap by its extension.
# SHELL starts an executable file with its arguments and leaves no child behind to reap.
shell_command() {
    printf '#!/bin/sh\necho "$@" >"%s/started.txt"\n' "$wd" >"$wd/tool.sh"
    chmod +x "$wd/tool.sh"
    start_korw
    wait_line "$prompt"
    type_text "shell tool.sh one two"
    keys Enter
    wait_line "$prompt"
    wait_file_text "$wd/started.txt" "one two"
    pid=$(t display-message -p -t k '#{pane_pid}')
    sleep 0.5
    zombies=$(ps -o stat= --ppid "$pid" | grep -c Z)
    [ "$zombies" = 0 ] || fail "$zombies started children left to reap"
    quit_korw
}

picture() {
    : >"$wd/KORW1.JPG"
    : >"$wd/old.bmp"
    : >"$wd/old.txt"
    start_korw
    wait_line "$prompt"
    for command in "variate x y 5" "compute x = #" "compute y = x*x"; do
        type_text "$command"
        keys Enter
        wait_line "$prompt"
    done
    type_text "plot x y"
    keys Enter
    wait_text "Press Return to save, Escape to quit."
    keys Enter
    wait_line "Save picture as ... [KORW2.JPG]:"
    type_text "ol"
    keys Tab
    wait_line "Save picture as ... [KORW2.JPG]: old.bmp"
    keys Escape
    wait_line "Save picture as ... [KORW2.JPG]:"
    type_text "new.bmp"
    keys Enter
    wait_line "$prompt"
    wait_file_text "$root/KORWOUT.TMP" " *** Picture saved as $wd/new.bmp ***"
    [ "$(head -c 2 "$wd/new.bmp")" = "BM" ] || fail "new.bmp is not a bitmap"
    # Escape closes the picture without saving it.
    type_text "plot x y"
    keys Enter
    wait_text "Press Return to save, Escape to quit."
    keys Escape
    wait_line "$prompt"
    [ "$(ls "$wd")" = "$(printf 'KORW1.JPG\nnew.bmp\nold.bmp\nold.txt')" ] ||
        fail "files after the pictures: $(ls "$wd")"
    # In a program the picture waits for any key, then the program goes on.
    printf '%s\n' "plot x y" "remark after the plot" >"$wd/pic.kor"
    type_text "run pic"
    keys Enter
    wait_text "Press Return to save, Escape to quit."
    keys Space
    wait_file_text "$root/KORWOUT.TMP" " *** END OF PROGRAM ***"
    grep -qF "KORW: REMARK after the plot" "$root/KORWOUT.TMP" || fail "the program did not go on"
    wait_line "$prompt"
    quit_korw
}

# Keys of the command line: Page Up and Page Down step through the log, "½" is typed as the
# vertical bar, and "a" (as "A") on an empty line runs INCLUDEALL.
command_keys() {
    start_korw
    wait_line "$prompt"
    for command in "compute x=1" "compute y=2"; do
        type_text "$command"
        keys Enter
        wait_line "$prompt"
    done
    keys PPage
    wait_line "$prompt COMPUTE y=2"
    keys PPage
    wait_line "$prompt COMPUTE x=1"
    keys NPage
    wait_line "$prompt COMPUTE y=2"
    keys NPage
    wait_line "$prompt"
    type_text "remark a½b £"
    wait_line "$prompt REMARK a|b £"
    keys Escape
    wait_line "$prompt"
    type_text "a"
    wait_file_text "$root/KORWOUT.TMP" "KORW> INCLUDEALL"
    wait_line "$prompt"
    quit_korw
}

# Ctrl+Right and Ctrl+Left step through the command names (caret in the command word) and the
# vector names (caret in the parameters), also where the system's inputrc binds them to word
# movement, as Debian's does.
name_keys() {
    printf '%s\n' '"\e[1;5C": forward-word' '"\e[1;5D": backward-word' >"$work/inputrc"
    export INPUTRC=$work/inputrc
    start_korw
    wait_line "$prompt"
    for command in "variate b 1" "variate a 1" "variate d 1"; do
        type_text "$command"
        keys Enter
        wait_line "$prompt"
    done
    type_text "ta"
    wait_line "$prompt TABULATE"
    keys C-Right
    wait_line "$prompt TESTMODELCHANGE"
    keys C-Left C-Left
    wait_line "$prompt SUMMARY"
    keys Escape
    wait_line "$prompt"
    # The first and the last name stay at the ends of the table.
    type_text "y"
    wait_line "$prompt YTEXT"
    keys C-Right
    wait_line "$prompt YTEXT"
    keys Escape
    wait_line "$prompt"
    type_text "list c"
    wait_line "$prompt L c"
    keys C-Right
    wait_line "$prompt L D"
    keys C-Left C-Left
    wait_line "$prompt L A"
    keys C-Left
    wait_line "$prompt L A"
    keys Escape
    wait_line "$prompt"
    quit_korw
}

# What the session output gained since the byte offset $since holds TEXT.
output_since_has() { tail -c +$((since + 1)) "$root/KORWOUT.TMP" | grep -qF -- "$1"; }

case "$case_name" in
    completion | failed_command | result_review | shortkey | quit_question | escape_program | \
        help_window | file_dialog | picture | command_keys | shell_command | name_keys | \
        data_files)
        "$case_name"
        ;;
    *)
        echo "unknown case $case_name"
        exit 2
        ;;
esac
echo "PASS: $case_name"

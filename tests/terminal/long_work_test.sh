#!/bin/bash
# Long commands: the status line of a running command and stopping it, in batch mode and in a
# real terminal (tmux): long_work_test.sh KORW CASE. The test hook KORW_TEST_POLL_SLEEP makes
# every poll of a long loop sleep, so that a small fit runs for seconds.
set -u
here=$(dirname "$(realpath "$0")")
tmux_optional=1
# shellcheck source=tmux_lib.sh
. "$here/tmux_lib.sh" "$1"
case_name=$2

# A fit of a few iterations on data made without long loops (COMPUTE runs in blocks).
fit_data=(
    "VARIATE x y 400"
    "COMPUTE x = (SIN(#) + 1) / 2"
    "COMPUTE y = (SIN(# * 7.3) + 1) / 2 < 0.3 + 0.4 * x"
)
slow_fit="FITLOGITLINEAR y = 1 + x"

no_status_in() {
    ! grep -qE "iteration [0-9]+, -2log|% done|Escape stops" "$1" || fail "status line in $1"
}

# --progress shows the status line on stderr, never in the session output or the kept output;
# without it stderr stays silent.
batch_progress() {
    printf '%s\n' "${fit_data[@]}" "$slow_fit" "SORT x y" >"$work/slow.kor"
    cd "$wd" || fail "no working directory"
    KORW_TEST_POLL_SLEEP=250 "$korw" --batch --progress --root "$root" --out "$work/kept.out" \
        - <"$work/slow.kor" >"$work/out" 2>"$work/err" || fail "status $?"
    grep -qE "^FITLOGITLINEAR: iteration [0-9]+, -2log\(Likelihood\) = [0-9]+\.[0-9]{2}$" \
        "$work/err" || fail "no iteration status on stderr: $(cat "$work/err")"
    grep -qE "^SORT: [0-9]+% done$" "$work/err" || fail "no fraction for SORT: $(cat "$work/err")"
    ! grep -q "Escape stops" "$work/err" || fail "batch mode offers Escape"
    no_status_in "$work/out"
    no_status_in "$work/kept.out"
    grep -q "^Convergence after" "$work/out" || fail "the fit did not finish"
    # Quiet without --progress.
    KORW_TEST_POLL_SLEEP=120 "$korw" --batch --root "$root" - <"$work/slow.kor" \
        >"$work/out" 2>"$work/err" || fail "status $?"
    [ ! -s "$work/err" ] || fail "stderr without --progress: $(cat "$work/err")"
}

# A stop signal stops the running command at its next poll; the session closes as before.
batch_signal() {
    mkdir "$work/tmp"
    printf '%s\n' "${fit_data[@]}" "$slow_fit" "VARIATE after 1" >"$work/slow.kor"
    cd "$wd" || fail "no working directory"
    KORW_TEST_POLL_SLEEP=400 TMPDIR=$work/tmp "$korw" --batch --out "$work/kept.out" \
        - <"$work/slow.kor" >"$work/out" 2>"$work/err" &
    local pid=$!
    poll "the fit to start" grep -qsF "KORW> $slow_fit" "$work/out"
    local started=$SECONDS
    kill -s TERM "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" = 1 ] || fail "status $status"
    [ $((SECONDS - started)) -le 3 ] || fail "the fit went on for $((SECONDS - started)) s"
    grep -qxF " *** ERROR - Interrupted by the user ***" "$work/out" || fail "no error line"
    ! grep -qF "KORW> VARIATE after" "$work/out" || fail "a line ran after the signal"
    grep -q "^End of session" "$work/kept.out" || fail "--out not kept"
}

# In the terminal, Ctrl+C and Escape stop a running fit: the status line showed what it did,
# the error line is written, the earlier fit stays, and the session goes on.
terminal_stop() {
    require_tmux
    export KORW_TEST_POLL_SLEEP=300
    start_korw
    wait_line "$prompt"
    for line in "${fit_data[@]}"; do
        type_text "$line"
        keys Enter
        wait_line "$prompt"
    done
    type_text "FITLINEARNORMAL y = 1 + x"
    keys Enter
    wait_text "Press Return to save output"
    keys Enter
    wait_line "$prompt"
    for key in C-c Escape; do
        since=$(stat -c %s "$root/KORWOUT.TMP")
        type_text "$slow_fit"
        keys Enter
        wait_match "^FITLOGITLINEAR: iteration [0-9]+, -2log\(Likelihood\) = .* \(Escape stops\)"
        keys "$key"
        wait_text "Interrupted by the user"
        # The failed command stays in the line for correction, as any failed command does.
        wait_line "$prompt $slow_fit"
        keys Escape
        wait_line "$prompt"
        output_since_has " *** ERROR - Interrupted by the user ***" ||
            fail "$key: no error line in the session output"
        # The status line was erased.
        ! screen | grep -q "Escape stops" || fail "$key: the status line stayed"
        keys C-l
        t clear-history -t k
    done
    # The session goes on, and the linear fit before is still the fit (a program lists it: the
    # command line would complete the typed word).
    printf 'LISTPARAMETERS\n' >"$wd/lp.kor"
    since=$(stat -c %s "$root/KORWOUT.TMP")
    type_text "run lp"
    keys Enter
    poll "the parameters" output_since_has "KORW: LISTPARAMETERS"
    poll "the program's end" output_since_has " *** END OF PROGRAM ***"
    output_since_has "Estimate        Std.dev.            T" || fail "the linear fit is gone"
    wait_line "$prompt"
    no_status_in "$root/KORWOUT.TMP"
    quit_korw
}

output_since_has() { tail -c +$((since + 1)) "$root/KORWOUT.TMP" | grep -qF -- "$1"; }

case "$case_name" in
    batch_progress | batch_signal | terminal_stop) "$case_name" ;;
    *)
        echo "unknown case $case_name"
        exit 2
        ;;
esac
echo "PASS: $case_name"

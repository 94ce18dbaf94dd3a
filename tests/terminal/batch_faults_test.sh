#!/bin/bash
# Faults a batch session must survive: batch_faults_test.sh KORW CASE. Each case runs korw
# --batch in a fresh working directory and root and checks what the user is left with. A case
# that needs what the machine does not give (a memory limit, a read-only directory that the
# test's own user cannot write) exits 77, which CTest counts as skipped.
set -u
korw=$(realpath "$1")
case_name=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/korwfault.XXXXXX")
full=$work/full
cleanup() {
    mountpoint -q "$full" 2>/dev/null && umount "$full"
    rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
wd=$work/wd
mkdir -p "$root" "$wd"

fail() {
    echo "FAIL: $*"
    exit 1
}
skip() {
    echo "SKIP: $*"
    exit 77
}

# Runs the commands given as arguments, one a line, in batch mode; stdout in $work/out,
# stderr in $work/err, the exit status in $status. Extra korw options come from $options.
batch() {
    status=0
    printf '%s\n' "$@" | (cd "$wd" && "$korw" --batch ${options:-} -) >"$work/out" 2>"$work/err" ||
        status=$?
}

expect_line() {
    grep -qxF -- "$1" "$work/out" || fail "no line \"$1\" in: $(cat "$work/out" "$work/err")"
}

# Running out of memory fails the command and leaves the session and the vectors as they were.
out_of_memory() {
    (ulimit -v 200000 2>/dev/null) || skip "no memory limit"
    (
        ulimit -v 200000
        batch "VARIATE A 10000000" "FACTOR G 10000000 2" "SORT A G +" "SORT A" "TABULATE n|s=A G" \
            "DELETE A G" "VARIATE B 1" "LIST B"
    )
    # A sanitizer build reserves more address space than the limit allows.
    grep -q "Sanitizer" "$work/err" && skip "a sanitizer build cannot start under a memory limit"
    [ -s "$work/out" ] || fail "no output: $(cat "$work/err")"
    expect_line " *** ERROR - Not enough memory to run SORT ***"
    expect_line "KORW> DELETE A G"
    expect_line "     0.0000"
    [ "$(grep -c ERROR "$work/out")" = 2 ] || fail "more errors than the two sorts: $(cat "$work/out")"
    grep -q "^End of session" "$work/out" || fail "the session did not end"
}

# A small file system of its own, filled up to `room` bytes; skipped where mounting is not
# allowed.
full_disk() {
    mkdir -p "$full"
    mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null || skip "cannot mount a small file system"
    local room=$1
    head -c 40000 /dev/zero | tr '\0' 'o' >"$full/old.out"
    while [ "$(df --output=avail -B1 "$full" | tail -1)" -gt "$room" ]; do
        head -c 1024 /dev/zero >>"$full/filler" 2>/dev/null || break
    done
}

# --out on a full disk fails and leaves the old file whole; the session output stays in the root.
out_on_full_disk() {
    full_disk 4096
    local before
    before=$(cksum <"$full/old.out")
    options="--root $root --out $full/old.out" batch "VARIATE x 900" "LIST x"
    [ "$status" = 1 ] || fail "status $status"
    grep -qxF "Can not save the session output as $full/old.out" "$work/err" ||
        fail "no message: $(cat "$work/err")"
    [ "$(cksum <"$full/old.out")" = "$before" ] || fail "the old file was changed"
    [ "$(ls "$full")" = "$(printf 'filler\nold.out')" ] || fail "left in the directory: $(ls "$full")"
    cmp -s "$root/KORWOUT.TMP" "$work/out" || fail "the session output is not kept in the root"
    [ -e "$root/KORW.TMP" ] && fail "KORW.TMP left in the root"
    return 0
}

# A start that fails on a full disk leaves no session files, so the next start is not refused.
start_on_full_disk() {
    full_disk 0
    options="--root $full" batch "VARIATE x 5"
    [ "$status" = 1 ] || fail "status $status"
    [ -e "$full/KORW.TMP" ] && fail "KORW.TMP left in the root"
    [ -e "$full/KORWOUT.TMP" ] && fail "KORWOUT.TMP left in the root"
    return 0
}

poll() {
    local end=$((SECONDS + 20))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for: $*"
        sleep 0.05
    done
}

# Lines reach stdout from their writer: removing the session output file loses none of them.
vanished_session_output() {
    mkfifo "$work/in"
    (cd "$wd" && "$korw" --batch --root "$root" - <"$work/in" >"$work/out" 2>"$work/err") &
    local pid=$!
    exec 3>"$work/in"
    echo "VARIATE a 1" >&3
    poll grep -qsF "KORW> VARIATE a 1" "$root/KORWOUT.TMP"
    rm "$root/KORWOUT.TMP"
    printf '%s\n' "VARIATE b 1" "VARIATE c 1" "LIST b" >&3
    exec 3>&-
    wait "$pid"
    for line in "KORW> VARIATE b 1" "KORW> VARIATE c 1" "KORW> LIST b" "          B"; do
        expect_line "$line"
    done
}

# SIGTERM, SIGINT and SIGHUP end a session as Escape ends a program: the program is
# interrupted, the session closed, --out kept and the private root removed.
stop_signals() {
    mkdir "$work/tmp"
    # A program that runs until it is stopped, however slowly the signal comes on a loaded machine.
    printf '%%top\nREMARK line\nGOTO %%top 1\n' >"$wd/long.kor"
    for signal in TERM INT HUP; do
        # The last run's output goes first: the new run's shell truncates it only after the
        # fork, and a poll that still saw the old line would signal korw before it is ready.
        rm -f "$work/out"
        TMPDIR=$work/tmp "$korw" --batch --out "$work/kept.out" "$wd/long.kor" >"$work/out" \
            2>"$work/err" &
        local pid=$!
        poll grep -qsF "KORW: REMARK line" "$work/out"
        kill -s "$signal" "$pid"
        status=0
        wait "$pid" || status=$?
        [ "$status" = 1 ] || fail "SIG$signal: status $status"
        expect_line " *** PROGRAM INTERRUPTED ***"
        grep -q "^End of session" "$work/kept.out" || fail "SIG$signal: --out not kept"
        [ -z "$(ls "$work/tmp")" ] || fail "SIG$signal: left behind: $(ls "$work/tmp")"
        rm "$work/kept.out"
    done
    # A session waiting for its next line stops at once.
    mkfifo "$work/in"
    cd "$wd" || fail "no working directory"
    "$korw" --batch --root "$root" - <"$work/in" >"$work/out" 2>"$work/err" &
    local pid=$!
    exec 3>"$work/in"
    echo "VARIATE a 1" >&3
    poll grep -qsF "KORW> VARIATE a 1" "$work/out"
    kill -s INT "$pid"
    status=0
    wait "$pid" || status=$?
    exec 3>&-
    [ "$status" = 1 ] || fail "waiting session: status $status"
    grep -q "^End of session" "$work/out" || fail "the waiting session was not closed"
    [ -e "$root/KORWOUT.TMP" ] && fail "KORWOUT.TMP left in the root"
    return 0
}

# Wrong options exit with 2, whatever the parser's own code for them.
wrong_options() {
    for args in "--root $work/nonexistent" "--bogus" "--batch --out"; do
        status=0
        # shellcheck disable=SC2086
        "$korw" $args </dev/null >/dev/null 2>&1 || status=$?
        [ "$status" = 2 ] || fail "korw $args: status $status"
    done
    "$korw" --help >/dev/null || fail "--help fails"
}

"$case_name"
echo "PASS: $case_name"

#!/bin/bash
# Faults a batch session must survive: batch_faults_test.sh KORW CASE. Each case runs korw
# --batch in a fresh working directory and root and checks what the user is left with. A case
# that needs what the machine does not give (a memory limit, a read-only directory that the
# test's own user cannot write) exits 77, which CTest counts as skipped.
set -u
korw=$(realpath "$1")
case_name=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/korwfault.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
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
    [ -s "$work/out" ] || fail "no output: $(cat "$work/err")"
    expect_line " *** ERROR - Not enough memory to run SORT ***"
    expect_line "KORW> DELETE A G"
    expect_line "     0.0000"
    [ "$(grep -c ERROR "$work/out")" = 2 ] || fail "more errors than the two sorts: $(cat "$work/out")"
    grep -q "^End of session" "$work/out" || fail "the session did not end"
}

"$case_name"
echo "PASS: $case_name"

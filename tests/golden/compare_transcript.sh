#!/bin/sh
# compare_transcript.sh WORK STATUS GOLDEN: the stdout and stderr a batch session left in WORK,
# its date, time and directory lines masked, then its exit status, compared with GOLDEN.
# KORW_UPDATE_GOLDEN=1 writes GOLDEN instead of comparing.
set -eu
work=$1
status=$2
golden=$3
{
    sed -e 's/^Start of session .*/Start of session (date and time)/' \
        -e 's/^End of session after .*/End of session after (time)/' \
        -e "s#$work#(dir)#g" "$work/stdout"
    echo "--- stderr"
    sed -e "s#$work#(dir)#g" "$work/stderr"
    echo "--- exit status $status"
} >"$work/actual"
if [ "${KORW_UPDATE_GOLDEN:-}" = 1 ]; then
    cp "$work/actual" "$golden"
    exit 0
fi
diff -u "$golden" "$work/actual"

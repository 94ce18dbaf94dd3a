#!/bin/sh
# Runs one golden transcript: NAME.kor through `korw --batch -` in a fresh directory (with the
# fixtures of NAME.files/ copied in), the session's date, time and directory lines masked, and
# compares stdout, then stderr and the exit status, with NAME.out.
# KORW_UPDATE_GOLDEN=1 writes NAME.out instead of comparing. NAME.env, when present, holds
# VARIABLE=value lines for the session's environment (the test hooks of long commands).
set -eu
korw=$(realpath "$1")
kor=$(realpath "$2")
base=${kor%.kor}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -d "$base.files" ]; then cp -R "$base.files/." "$work/"; fi
mkdir "$work/root"
if [ -f "$base.env" ]; then
    set -a
    . "$base.env"
    set +a
fi
status=0
(cd "$work" && "$korw" --batch --root "$work/root" - <"$kor" >stdout 2>stderr) || status=$?
"$(dirname "$0")/compare_transcript.sh" "$work" "$status" "$base.out"

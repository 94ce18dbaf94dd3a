#!/bin/sh
# Runs one demonstration the way a user picks it from the demonstration menu: COMMAND (e.g.
# "OPENCOMMANDFILE 3" or "RUN D5-2 6 2"; several commands separated by ";" run one after
# another in the same session) through `korw --batch --demo -` under a fresh root, so
# the demonstration folder is installed anew from the program's copy and the demonstration may
# change its files freely. The exit status must be 0. With GOLDEN, stdout (date, time and
# directory masked) and stderr must also equal that file; KORW_UPDATE_GOLDEN=1 rewrites it.
set -eu
korw=$(realpath "$1")
command=$2
golden=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/root"
status=0
(cd "$work" && printf '%s\n' "$command" | tr ';' '\n' |
    "$korw" --batch --demo --root "$work/root" - >stdout 2>stderr) || status=$?
if [ -z "$golden" ]; then
    if [ "$status" != 0 ]; then
        cat "$work/stdout" "$work/stderr"
        echo "exit status $status"
        exit 1
    fi
    exit 0
fi
"$(dirname "$(realpath "$0")")/../golden/compare_transcript.sh" "$work" "$status" "$golden"

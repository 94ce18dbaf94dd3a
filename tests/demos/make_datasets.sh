#!/bin/sh
# Runs demos/make_datasets.kor in a temporary directory and checks that it writes the two data
# sets exactly as committed in demos/.
set -eu
korw=$(realpath "$1")
demos=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$demos/make_datasets.kor" "$work/"
(cd "$work" && "$korw" --batch make_datasets.kor >stdout 2>&1) || { cat "$work/stdout"; exit 1; }
for f in W-H-DATA.KDS D6.KDS; do
    cmp "$demos/$f" "$work/$f" || { echo "$f differs from the generator's output"; exit 1; }
done

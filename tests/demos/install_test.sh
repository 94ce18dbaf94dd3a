#!/bin/sh
# Installs the build tree BUILD into a temporary prefix and checks what landed where; then runs
# the installed program in demonstration mode, which works only when it finds share/korw.
set -eu
build=$(realpath "$1")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install: $*"; exit 1; }
[ -x "$prefix/bin/korw" ] || fail "bin/korw missing"
[ -f "$prefix/share/korw/KORWHELP.TXT" ] || fail "share/korw/KORWHELP.TXT missing"
[ -f "$prefix/share/man/man1/korw.1" ] || fail "share/man/man1/korw.1 missing"
for f in VERSION.TXT README 1.KOR 2.KOR 3.KOR 4.KOR 5.KOR 6.KOR W-H-DATA.KDS DEMO2.DAT \
    D5-1.KOR D5-2.KOR D5-3.KOR D5-4.KOR D5-5.KOR D5-6.KOR D5-7.KOR D6.KDS; do
    [ -f "$prefix/share/korw/demos/$f" ] || fail "share/korw/demos/$f missing"
done
# Nothing of the build tree may be reachable: the program is run from the prefix alone, and
# KORWHELP.TXT must not be beside it (the lookup then goes to share/korw).
[ ! -e "$prefix/bin/KORWHELP.TXT" ] || fail "KORWHELP.TXT beside the installed program"
mkdir "$prefix/root"
out=$(cd "$prefix" && printf 'OPENCOMMANDFILE 1\n' |
    "$prefix/bin/korw" --batch --demo --root "$prefix/root" - 2>&1) ||
    { echo "$out"; fail "the installed korw failed in demonstration mode"; }
for f in README W-H-DATA.KDS D5-7.KOR; do
    cmp "$prefix/share/korw/demos/$f" "$prefix/root/DEMOS/$f" || fail "DEMOS/$f not installed"
done
echo "$out" | grep -q "DEMONSTRATION 1: DATA ENTRY" || fail "no demonstration text"

# The Jupyter kernel spec, under any prefix: it names no path of the build or of the prefix, and
# its kernel finds the installed korw beside it.
spec="$prefix/share/jupyter/kernels/korw"
for f in kernel.json korw_kernel.py logo-32x32.png logo-64x64.png; do
    [ -f "$spec/$f" ] || fail "share/jupyter/kernels/korw/$f missing"
done
grep -q '"/usr/bin/python3", "{resource_dir}/korw_kernel.py"' "$spec/kernel.json" ||
    fail "kernel.json does not start the kernel through {resource_dir}"
! grep -q "$prefix\|$build" "$spec/kernel.json" || fail "kernel.json names a build or install path"
found=$(env -u KORW_EXECUTABLE PATH=/usr/bin:/bin python3 -c "
import os, shutil
text = open('$spec/korw_kernel.py').read()
source = text[text.index('def find_korw'):text.index('def output_name')]
ns = {'__file__': '$spec/korw_kernel.py', 'os': os, 'shutil': shutil}
exec(source, ns)
print(ns['find_korw']())")
[ "$found" = "$prefix/bin/korw" ] || fail "the kernel finds $found, not the installed korw"

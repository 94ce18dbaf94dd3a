#!/bin/sh
# The Debian package, one case at a time: package_test.sh CASE OUT BUILD SOURCE GUI
#   build       make the package with cpack from the build tree BUILD into OUT (what the target
#               `package` does), leaving exactly one korw_*.deb there
#   files       its file list and control fields: programs (stripped), help, demonstrations,
#               manual pages, desktop entry, icon, file types, completion, the Jupyter kernel
#               spec when SOURCE has jupyter/; everything under /usr, nothing naming the build
#   run         unpacked with dpkg-deb into a scratch directory, korw runs demonstrations from
#               there, finding its help and demonstrations beside itself in ../share/korw
#   completion  the packaged bash completion offers the options each program lists in --help,
#               directories after --root, and programs, data sets and data files as arguments
#   mime        the packaged file types load into a MIME database, map .KOR and .KDS (in any
#               case) to KORW's types, and cover every type the desktop entry opens
#   lintian     lintian finds no errors (skipped when lintian is not installed)
# GUI is 1 when korw-gui was built. Exit status 77 means skipped.
set -eu
case=$1
out=$2
build=$(realpath "$3")
source=$(realpath "$4")
gui=$5
fail() { echo "package.$case: $*"; exit 1; }

if [ "$case" = build ]; then
    rm -rf "$out"
    mkdir -p "$out"
    cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log"; fail "cpack failed"; }
    set -- "$out"/korw_*.deb
    [ $# = 1 ] && [ -f "$1" ] || fail "expected one korw_*.deb in $out, found: $*"
    exit 0
fi

set -- "$out"/korw_*.deb
[ -f "$1" ] || fail "no package in $out (package.build failed?)"
deb=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unpack() {
    dpkg-deb -x "$deb" "$scratch/pkg"
    usr=$scratch/pkg/usr
}

case $case in
files)
    dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$scratch/list"
    want="/usr/bin/korw /usr/share/korw/KORWHELP.TXT /usr/share/man/man1/korw.1.gz
        /usr/share/mime/packages/korw.xml /usr/share/bash-completion/completions/korw
        /usr/share/doc/korw/copyright /usr/share/doc/korw/changelog.gz"
    if [ "$gui" = 1 ]; then
        want="$want /usr/bin/korw-gui /usr/share/man/man1/korw-gui.1.gz
            /usr/share/applications/korw-gui.desktop /usr/share/icons/hicolor/scalable/apps/korw.svg
            /usr/share/bash-completion/completions/korw-gui"
    fi
    # The kernel spec comes with the kernel's folder in the source tree.
    if [ -d "$source/jupyter" ]; then
        want="$want /usr/share/jupyter/kernels/korw/kernel.json"
    fi
    # Every demonstration file the build tree holds beside build/korw.
    for f in "$build"/demos/*; do want="$want /usr/share/korw/demos/${f##*/}"; done
    for path in $want; do
        grep -qx "$path" "$scratch/list" || fail "$path missing"
    done
    # Only /usr, and no help text beside the programs (they would find it there instead).
    ! grep -v '^/$' "$scratch/list" | grep -v '^/usr/' || fail "files outside /usr"
    ! grep -q '^/usr/bin/KORWHELP.TXT$' "$scratch/list" || fail "KORWHELP.TXT in /usr/bin"
    ! grep -q '^/usr/share/man/.*[^z/]$' "$scratch/list" || fail "uncompressed manual page"
    unpack
    for program in "$usr"/bin/*; do
        file -b "$program" | grep -q ', stripped' || fail "${program##*/} is not stripped"
    done
    # Text files name neither the build tree nor the configure-time prefix.
    if grep -rIl -e "$build" -e "$source" -e /usr/local "$usr/share" >"$scratch/named"; then
        cat "$scratch/named"
        fail "files naming the build tree or /usr/local"
    fi
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libcairo2 libreadline8; do
        echo "$depends" | grep -q "\\b$lib\\b" || fail "Depends lacks $lib: $depends"
    done
    if [ "$gui" = 1 ]; then
        echo "$depends" | grep -q "libqt6widgets6" || fail "Depends lacks Qt: $depends"
    fi
    dpkg-deb -f "$deb" Recommends | grep -q python3-ipykernel || fail "python3-ipykernel not recommended"
    [ "$(dpkg-deb -f "$deb" Package)" = korw ] || fail "package name"
    ;;
run)
    unpack
    mkdir "$scratch/root"
    # The unpacked korw restores the demonstration folder from ../share/korw/demos; the output
    # of two demonstrations must equal their transcripts from the build tree.
    for demo in 3 6; do
        "$source/tests/demos/run_demo.sh" "$usr/bin/korw" "OPENCOMMANDFILE $demo" \
            "$source/tests/demos/$demo.out" || fail "demonstration $demo"
    done
    (cd "$scratch" && printf 'OPENCOMMANDFILE 1\n' |
        "$usr/bin/korw" --batch --demo --root "$scratch/root" - >stdout 2>&1) ||
        { cat "$scratch/stdout"; fail "the unpacked korw failed"; }
    cmp "$usr/share/korw/demos/README" "$scratch/root/DEMOS/README" ||
        fail "DEMOS not restored from the package's share/korw"
    [ "$("$usr/bin/korw" --version)" = "KORW, version JUN2009" ] || fail "korw --version"
    if [ "$gui" = 1 ]; then
        [ "$("$usr/bin/korw-gui" --version)" = "KORW, version JUN2009" ] ||
            fail "korw-gui --version"
    fi
    ;;
completion)
    [ -f /usr/share/bash-completion/bash_completion ] || { echo "bash-completion missing"; exit 77; }
    unpack
    mkdir -p "$scratch/work/sub"
    for f in a.KOR b.kds c.csv d.SAV e.sas7bdat notes.txt data.dat; do : >"$scratch/work/$f"; done
    cat >"$scratch/complete.sh" <<'EOF'
. /usr/share/bash-completion/bash_completion
. "$1"
cd "$2"
shift 2
# complete WORDS...: what Tab offers for the last word, sorted, one line.
complete() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _korw "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
    echo
}
complete "$@"
EOF
    run() { PATH="$usr/bin:$PATH" bash "$scratch/complete.sh" \
        "$usr/share/bash-completion/completions/korw" "$scratch/work" "$@"; }
    expect() {
        want=$1
        shift
        got=$(run "$@")
        [ "$got" = "$want" ] || fail "'$*': got '$got', want '$want'"
    }
    programs=korw
    [ "$gui" = 1 ] && programs="korw korw-gui"
    for program in $programs; do
        options=$("$usr/bin/$program" --help | sed -n 's/^ *\(-h,\)\{0,1\}\(--[a-z-]*\).*/\2/p' |
            sort | tr '\n' ' ')
        [ -n "$options" ] || fail "$program --help lists no options"
        expect "$options" "$program" --
        expect "sub " "$program" --root ""
        expect "a.KOR b.kds c.csv d.SAV e.sas7bdat sub " "$program" ""
    done
    expect "--batch " korw --ba
    expect "- a.KOR b.kds c.csv d.SAV e.sas7bdat sub " korw --batch ""
    # After the program file come its values: any file.
    expect "a.KOR b.kds c.csv d.SAV data.dat e.sas7bdat notes.txt sub " korw a.KOR ""
    ;;
mime)
    command -v update-mime-database >/dev/null || { echo "shared-mime-info missing"; exit 77; }
    unpack
    mkdir -p "$scratch/mime/packages"
    cp "$usr/share/mime/packages/korw.xml" "$scratch/mime/packages/"
    XDG_DATA_HOME=$scratch update-mime-database "$scratch/mime" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "rejected"; }
    [ ! -s "$scratch/log" ] || { cat "$scratch/log"; fail "update-mime-database complained"; }
    for glob in "application/x-korw-program:\*.kor" "application/x-korw-dataset:\*.kds" \
        "application/x-stata-dta:\*.dta" "application/x-sas-data:\*.sas7bdat" \
        "application/x-sas-xport:\*.xpt" "text/tab-separated-values:\*.tab"; do
        grep -q ":$glob\$" "$scratch/mime/globs2" || fail "no glob $glob"
    done
    # Each type the desktop entry opens is ours or the system's.
    [ "$gui" = 1 ] || exit 0
    types=$(sed -n 's/^MimeType=//p' "$usr/share/applications/korw-gui.desktop" | tr ';' ' ')
    for type in application/x-korw-program application/x-korw-dataset; do
        echo " $types " | grep -q " $type " || fail "korw-gui.desktop does not open $type"
    done
    system=/usr/share/mime/packages/freedesktop.org.xml
    for type in $types; do
        grep -q "type=\"$type\"" "$usr/share/mime/packages/korw.xml" ||
            { [ -f "$system" ] && grep -q "<mime-type type=\"$type\"" "$system"; } ||
            fail "korw-gui.desktop opens $type, which no MIME package defines"
    done
    ;;
lintian)
    command -v lintian >/dev/null || { echo "lintian not installed"; exit 77; }
    # Warnings are shown; only errors fail.
    status=0
    lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1 || status=$?
    grep -v '^running with root privileges' "$scratch/lintian" || true
    [ "$status" = 0 ] || fail "lintian reports errors"
    ;;
*)
    fail "unknown case"
    ;;
esac

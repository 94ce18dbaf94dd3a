#!/bin/bash
# Pictures in the terminal and in batch runs: pictures_test.sh KORW CASE. The tmux cases see
# the block-element pictures tmux shows; the xterm case runs korw in "xterm -ti vt340" (sixel)
# under a private Xvfb and finds the picture's pixels in a screenshot. A case whose programs are
# missing exits 77 (skipped).
set -u
case_name=$2
tmux_optional=1
# shellcheck source=tmux_lib.sh
. "$(dirname "$0")/tmux_lib.sh"

skip() {
    echo "SKIP: $*"
    exit 77
}

# Runs the lines given as arguments through korw --batch in the working directory; stdout in
# $work/out, stderr in $work/err, the exit status in $status. Extra options come from $options.
batch() {
    status=0
    # shellcheck disable=SC2086
    printf '%s\n' "$@" | (cd "$wd" && "$korw" --batch ${options:-} -) >"$work/out" 2>"$work/err" ||
        status=$?
}

plot_lines=("VARIATE X Y 20" "COMPUTE X = #" "COMPUTE Y = X*X")

# A picture that is not kept says once, on stderr, how to keep pictures; the session output has
# no trace of it. --pictures keeps each one as JPEG, --picture-type as PNG or BMP.
batch_pictures() {
    batch "${plot_lines[@]}" "PLOT X Y" "HISTOGRAM Y"
    [ "$status" = 0 ] || fail "status $status: $(cat "$work/err")"
    [ "$(grep -c -- "--pictures" "$work/err")" = 1 ] || fail "note on stderr: $(cat "$work/err")"
    grep -q -- "--picture-type=png|jpg|bmp" "$work/err" || fail "no --picture-type in the note"
    grep -q $'\033' "$work/out" && fail "an escape sequence in the session output"
    grep -q "pictures" "$work/out" && fail "the note went into the session output"
    [ -z "$(ls "$wd")" ] || fail "files kept without --pictures: $(ls "$wd")"

    options=--pictures batch "${plot_lines[@]}" "PLOT X Y"
    [ -s "$work/err" ] && fail "stderr with --pictures: $(cat "$work/err")"
    grep -qxF " *** Picture saved as KORW1.JPG ***" "$work/out" || fail "no JPEG: $(cat "$work/out")"
    [ "$(head -c 3 "$wd/KORW1.JPG" | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "not a JPEG"

    options=--picture-type=png batch "${plot_lines[@]}" "PLOT X Y" "PLOT Y X"
    grep -qxF " *** Picture saved as KORW2.PNG ***" "$work/out" || fail "no PNG: $(cat "$work/out")"
    [ "$(head -c 4 "$wd/KORW1.PNG" | tail -c 3)" = PNG ] || fail "KORW1.PNG is not a PNG"
    options="--pictures --picture-type=BMP" batch "${plot_lines[@]}" "PLOT X Y"
    [ "$(head -c 2 "$wd/KORW1.BMP")" = BM ] || fail "KORW1.BMP is not a bitmap"

    options=--picture-type=gif batch "PLOT X Y"
    [ "$status" = 2 ] || fail "--picture-type=gif gave status $status"
    options=--pictures=sixel batch "PLOT X Y"
    [ "$status" = 2 ] || fail "--pictures=sixel in batch mode gave status $status"
    grep -q "terminal console" "$work/err" || fail "no reason for the refusal: $(cat "$work/err")"
}

# Lines of the screen holding block elements (U+2580..U+259F).
block_lines() { screen | LC_ALL=C grep -c $'\xe2\x96[\x80-\x9f]'; }

# In tmux the picture is drawn in block elements above the keys' hint; KORW_PICTURES=off draws
# none. V without a desktop says how to keep the picture instead of the opener's errors. The 3-d
# view turns in place: the hint stays on its line. SHOW draws a picture file.
tmux_pictures() {
    require_tmux
    start_korw
    wait_line "$prompt"
    for command in "${plot_lines[@]}" "VARIATE Z 20" "COMPUTE Z = X*(20-X)"; do
        type_text "$command"
        keys Enter
        wait_line "$prompt"
    done
    type_text "plot x y"
    keys Enter
    wait_text "Press Return to save, Escape to quit."
    [ "$(block_lines)" -ge 10 ] || fail "no picture above the hint"
    keys v
    wait_text "No desktop to view the picture in: press Return to save it"
    screen | grep -qiE "xdg-open|not found|no method" && fail "the opener's errors on the screen"
    keys Escape
    wait_line "$prompt"
    type_text "plot x y z"
    keys Enter
    wait_text "Cursor keys rotate"
    before=$(t display-message -p -t k '#{cursor_y}')
    picture=$(screen)
    keys Left Left Left Up
    turned() { [ "$(screen)" != "$picture" ]; }
    poll "the 3-d view to turn" turned
    sleep 0.3
    [ "$(t display-message -p -t k '#{cursor_y}')" = "$before" ] || fail "the picture moved down"
    [ "$(screen | grep -c "Cursor keys rotate")" = 1 ] || fail "the picture was drawn again below"
    keys Escape
    wait_line "$prompt"
    # SHOW of a picture file draws it as well, and goes straight back to the command line.
    t clear-history -t k
    keys C-l
    no_picture() { [ "$(block_lines)" = 0 ]; }
    poll "the screen to clear" no_picture
    options=--picture-type=png batch "${plot_lines[@]}" "PLOT X Y"
    type_text "show KORW1.PNG"
    keys Enter
    wait_line "$prompt"
    [ "$(block_lines)" -ge 10 ] || fail "SHOW KORW1.PNG drew no picture"
    quit_korw

    t kill-session -t k
    start k "$wd" --root "$root" --pictures=off
    wait_line "$prompt"
    for command in "${plot_lines[@]}" "plot x y"; do
        type_text "$command"
        keys Enter
    done
    wait_text "Press Return to save, Escape to quit."
    [ "$(block_lines)" = 0 ] || fail "a picture with --pictures=off"
    keys Escape
    wait_line "$prompt"
    quit_korw
}

# xterm as a VT340 answers the device attributes with sixel; the PLOT of a program shows as a
# white 4:3 picture on the black terminal, at the terminal's width (100 columns of 6 pixels).
xterm_sixel() {
    command -v xterm >/dev/null && command -v Xvfb >/dev/null && command -v import >/dev/null ||
        skip "xterm, Xvfb or ImageMagick's import is missing"
    # Xvfb picks a free display itself and says which, so other X servers do not get in the way.
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    exec 3>&-
    poll "Xvfb to start" test -s "$work/display"
    export DISPLAY=:$(cat "$work/display")
    printf '%s\n' "${plot_lines[@]}" "PLOT X Y" >"$wd/pic.KOR"
    (cd "$wd" && exec env -u TMUX -u KORW_PICTURES xterm -ti vt340 -bg black -fg white \
        -geometry 100x40+0+0 -e "$korw" --root "$root" pic.KOR) &
    xterm=$!
    # shellcheck disable=SC2317
    stop_x() {
        kill "$xterm" "$xvfb" 2>/dev/null
        wait "$xterm" "$xvfb" 2>/dev/null
        cleanup
    }
    trap stop_x EXIT
    white() { convert "$work/shot.png" -threshold 50% -format "%[fx:mean]" info:; }
    shot_has_picture() {
        import -window root "$work/shot.png" 2>/dev/null &&
            awk -v w="$(white)" 'BEGIN { exit !(w > 0.25) }'
    }
    poll "the picture in the screenshot" shot_has_picture
    sleep 0.5
    import -window root "$work/shot.png"
    cp "$work/shot.png" "${KORW_SCREENSHOT:-/dev/null}" 2>/dev/null
    # The white area is the picture: about 600 x 450 pixels, 4:3, and it holds dark pixels
    # (the axes and the points).
    size=$(convert "$work/shot.png" -threshold 50% -trim -format "%w %h" info:)
    read -r width height <<<"$size"
    [ "$width" -ge 400 ] && [ "$width" -le 640 ] || fail "picture width $width"
    awk -v w="$width" -v h="$height" 'BEGIN { r = w / h; exit !(r > 1.2 && r < 1.45) }' ||
        fail "picture of $width x $height is not 4:3"
    inside=$(convert "$work/shot.png" -crop 500x350+50+50 -threshold 50% -format "%[fx:mean]" info:)
    awk -v m="$inside" 'BEGIN { exit !(m > 0.9 && m < 0.999) }' ||
        fail "the picture's inside is not white with marks (mean $inside)"
}

case "$case_name" in
    batch_pictures | tmux_pictures | xterm_sixel) "$case_name" ;;
    *)
        echo "unknown case $case_name"
        exit 2
        ;;
esac
echo "PASS: $case_name"

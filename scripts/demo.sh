#!/bin/sh
# The main job: builds KORW and starts it in demonstration mode (the root's DEMOS folder,
# restored from the program's copy, README and the menu of six demonstrations): the desktop
# window when a display is at hand and korw-gui was built, the terminal console otherwise.
# Without a terminal there is nobody to press keys: the six demonstrations then run one after
# another through the batch console, each command after the text explaining it.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/korw-gui ]; then
    exec build/korw-gui --demo
fi
if [ -t 0 ] && [ -t 1 ]; then
    exec build/korw --demo
fi
cat demos/README
printf 'OPENCOMMANDFILE %s\n' 1 2 3 4 5 6 | build/korw --batch --demo -

#!/bin/sh
# The main job: builds KORW and starts the terminal console in demonstration mode (the root's
# DEMOS folder, restored from the program's copy, README and the menu of six demonstrations).
# Without a terminal there is nobody to press keys: the six demonstrations then run one after
# another through the batch console, each command after the text explaining it.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -t 0 ] && [ -t 1 ]; then
    exec build/korw --demo
fi
cat demos/README
printf 'OPENCOMMANDFILE %s\n' 1 2 3 4 5 6 | build/korw --batch --demo -

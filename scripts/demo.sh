#!/bin/sh
# The main job: builds KORW and runs the built-in demonstration through the batch console.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cd demos && ../build/korw --batch - < demo.kor

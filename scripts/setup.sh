#!/bin/sh
# Installs what building and testing KORW needs on Debian (run as root, or with sudo at hand),
# then configures and builds into build/ (and build-asan/ with --sanitize).
set -eu
packages="cmake ninja-build g++ pkg-config ccache clang-format libgtest-dev libcli11-dev \
libreadline-dev libcairo2-dev libfontconfig-dev libjpeg62-turbo-dev fonts-liberation2 tmux \
qt6-base-dev xvfb xdotool imagemagick libreadstat-dev libchafa-dev xterm \
python3-ipykernel python3-jupyter-kernel-test python3-nbconvert jupyter-client dpkg-dev file \
lintian bash-completion shared-mime-info"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
fi
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DKORW_WERROR=ON -DKORW_TESTS=ON
ninja -C build
if [ "${1:-}" = "--sanitize" ]; then
    cmake -S . -B build-asan -G Ninja -DKORW_WERROR=ON -DKORW_SANITIZE=ON -DKORW_TESTS=ON
    ninja -C build-asan
fi

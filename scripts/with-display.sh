#!/usr/bin/env bash
# Runs a test program on a private virtual display (Xvfb), with SDL's dummy
# sound driver, so window tests behave the same on every machine.
set -euo pipefail
export SDL_VIDEODRIVER=x11
export SDL_AUDIODRIVER=dummy
# The map page's browser: no sandbox under root (CI), no GPU on a virtual display.
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$@"

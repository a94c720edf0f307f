#!/usr/bin/env bash
# Runs a test program on a private virtual display (Xvfb), with SDL's dummy
# sound driver, so window tests behave the same on every machine.
set -euo pipefail
export SDL_VIDEODRIVER=x11
export SDL_AUDIODRIVER=dummy
# The map page's browser: no sandbox under root (CI), no GPU on a virtual display.
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
# A virtual display has no session bus. Without an address the bus library
# starts one when SDL asks for it at video start, by forking the program's
# many threads, and under the sanitizers the child could hang on a lock held
# at the fork, taking the program with it.
export DBUS_SESSION_BUS_ADDRESS=disabled:
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$@"

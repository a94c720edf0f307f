#!/usr/bin/env bash
# Runs a test program on a private virtual display (Xvfb), with SDL's dummy
# sound driver, so window tests behave the same on every machine.
set -euo pipefail
export SDL_VIDEODRIVER=x11
export SDL_AUDIODRIVER=dummy
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$@"

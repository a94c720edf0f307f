#!/usr/bin/env bash
# On a machine with a graphics card: sixteen 1080p25 H.264 main-profile
# recordings played at once in a 4 x 4 layout, decoded in hardware and then
# with VELMOR_HWDEC=none; for each, the share of pictures shown on time and
# the CPU used. Builds only the media library and velmor-hwdec-bench.
#   scripts/gpu-hwdec.sh [BUILD_DIR] [SECONDS]     (defaults: build-gpu, 20)
# Pictures go to a virtual display, whose drawing costs the same CPU both
# ways; the difference between the runs is the decoding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-gpu}
seconds=${2:-20}

for tool in cmake ninja ffmpeg xvfb-run; do
    command -v "$tool" >/dev/null || { echo "gpu-hwdec: $tool is missing" >&2; exit 1; }
done
command -v nvidia-smi >/dev/null && nvidia-smi --query-gpu=name,driver_version --format=csv,noheader

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMOR_TESTS=OFF >/dev/null
cmake --build "$build" --target velmor-hwdec-bench >/dev/null

# Recorder-like streams: no B frames, a key frame every 2 s; each channel its
# own colours, so no two windows decode the same pictures.
data="$build/bench-data/hwdec-${seconds}s"
mkdir -p "$data"
for i in $(seq -w 1 16); do
    out="$data/ch$i.mp4"
    [ -s "$out" ] && continue
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=$seconds,hue=h=$((10#$i * 22))" \
        -c:v libx264 -profile:v main -preset veryfast -bf 0 -g 50 -pix_fmt yuv420p -threads 2 "$out" &
    (( 10#$i % 8 == 0 )) && wait
done
wait

for mode in "" none; do
    echo "== VELMOR_HWDEC=${mode:-(not set: vaapi, then cuda)}"
    VELMOR_HWDEC=$mode "$root/scripts/with-display.sh" "$build/bin/velmor-hwdec-bench" "$data"/ch*.mp4
done

#!/usr/bin/env bash
# Runs the player on the demo corpus on a display nobody looks at (xvfb-run
# calls this), and keeps what it showed as pictures: the main frame in each
# language, the log page of the demo partition, the settings dialog, and the
# play windows: the first container file's channels in step, then an IFV
# file and the grec file alone.
set -euo pipefail
build=$1
demo=$2
bin="$build/bin"
shots="$demo/screenshots"
sock="$demo/velmor.sock"
mkdir -p "$shots" "$demo/profile"
export VELMOR_PROFILE_DIR="$demo/profile" QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1 \
  QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
rm -f "$sock"
"$bin/velmor" --control "$sock" "$demo/partition/disk/fc00000.rpo" &
pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
send() { "$bin/velmor" --command "$sock" "$@" > /dev/null; }
names=(zh_CN zh_TW en)
for lang in 0 1 2; do
  send "{\"command\":[\"settings\",{\"Language\":$lang}]}" \
       "{\"command\":[\"page\",\"MainFrm_Btn_DrivingRecord\"]}" \
       "{\"command\":[\"screenshot\",\"$shots/main-${names[$lang]}.png\"]}"
done
# The container file given on the command line has been playing meanwhile.
send "{\"command\":[\"page\",\"MainFrm_Btn_PlayBack\"]}" \
     "{\"command\":[\"open\",\"$demo/partition/disk/fc00000.rpo\"]}" \
     "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}" \
     "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}"
sleep 6
send "{\"command\":[\"screenshot\",\"$shots/playback-channels-en.png\"]}" \
     "{\"command\":[\"open\",\"$(ls "$demo"/ifv/*.ifv | head -1)\"]}"
sleep 2
send "{\"command\":[\"screenshot\",\"$shots/playback-ifv-en.png\"]}" \
     "{\"command\":[\"open\",\"$(ls "$demo"/grec/*.grec | head -1)\"]}"
sleep 2
send "{\"command\":[\"screenshot\",\"$shots/playback-grec-en.png\"]}" \
     "{\"command\":[\"screenshot\",\"$shots/equalizer-en.png\",\"EqualizeSetting\"]}" \
     "{\"command\":[\"stop\"]}"
send "{\"command\":[\"page\",\"MainFrm_Btn_Log\"]}" \
     "{\"command\":[\"log_query\",{\"source\":\"$demo/partition/disk\",\"type\":\"Log_ComBox_All\"}]}" \
     "{\"command\":[\"screenshot\",\"$shots/log-en.png\"]}" \
     "{\"command\":[\"log_export\",\"$shots/log-en.xlsx\"]}" \
     "{\"command\":[\"screenshot\",\"$shots/settings-en.png\",\"ProjectSet\"]}" \
     "{\"command\":[\"quit\"]}"
wait "$pid"
echo "demo: the player ran on a virtual display; its pictures are in $shots:"
ls "$shots"

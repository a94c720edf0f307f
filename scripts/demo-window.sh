#!/usr/bin/env bash
# Runs the player on the demo corpus on a display nobody looks at (xvfb-run
# calls this), and keeps what it showed as pictures: the driving-record page
# in each language with the demo partition searched, its channels playing in
# step from the timeline with the vehicle on the ruled map, then on the
# demo's offline tile map (positions corrected on the grid), the log page
# the search filled, the speed graph, a cut of two channels with its signed
# report verified, the index
# disk's emergency button as on-screen text, the settings dialog, and the
# play windows: an IFV file and the grec file alone.
set -euo pipefail
build=$1
demo=$2
bin="$build/bin"
shots="$demo/screenshots"
sock="$demo/velmor.sock"
mkdir -p "$shots" "$demo/profile"
# No session bus on the virtual display: none is started for the player.
export DBUS_SESSION_BUS_ADDRESS=disabled:
export VELMOR_PROFILE_DIR="$demo/profile" QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1 \
  QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
rm -f "$sock"
"$bin/velmor" --control "$sock" &
pid=$!
for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.1; done
send() { "$bin/velmor" --command "$sock" "$@" > /dev/null; }
names=(zh_CN zh_TW en)
partition="$demo/partition/disk"
# The page as a new user finds it: the partition searched, the first day on
# the calendar and timeline, time play from 10:00:05 on the timeline.
send "{\"command\":[\"settings\",{\"SaveFilePath\":\"$(cd "$demo" && pwd)/clips\",\"ADDOSD\":1,\"CaseUtcOffset\":\"+08:00\"}]}" \
     "{\"command\":[\"search\",\"$partition\",{\"types\":\"all\"}]}" \
     "{\"command\":[\"day\",\"2026-12-01\"]}" \
     "{\"command\":[\"play_at\",\"2026-12-01 10:00:05\"]}"
for lang in 0 1 2; do
  send "{\"command\":[\"settings\",{\"Language\":$lang}]}" \
       "{\"command\":[\"page\",\"MainFrm_Btn_DrivingRecord\"]}"
  sleep 2
  send "{\"command\":[\"screenshot\",\"$shots/main-${names[$lang]}.png\"]}"
done
# The search put the partition's recorder log on the log page.
send "{\"command\":[\"page\",\"MainFrm_Btn_Log\"]}" \
     "{\"command\":[\"log_query\",{\"type\":\"Log_ComBox_All\"}]}" \
     "{\"command\":[\"screenshot\",\"$shots/log-en.png\"]}" \
     "{\"command\":[\"log_export\",\"$shots/log-en.xlsx\"]}"
# The offline map: the demo's tile file, the car and its corrected track on it.
send "{\"command\":[\"settings\",{\"MapType\":2,\"GSTFILE\":\"$(cd "$demo" && pwd)/map/demo-track.mbtiles\"}]}" \
     "{\"command\":[\"page\",\"MainFrm_Btn_DrivingRecord\"]}" \
     "{\"command\":[\"play_at\",\"2026-12-01 10:00:05\"]}"
sleep 8
send "{\"command\":[\"screenshot\",\"$shots/offline-map-en.png\"]}"
# Each channel also with its second's time, speed, position and events burned in.
send "{\"command\":[\"cut\",{\"from\":1796119200,\"to\":1796119230,\"channels\":[1,2],\"format\":\"mp4\",\"combine\":true,\"overlay\":true}]}"
# The cut's signed report (the copies with text in it), checked as "verify an export" does.
report=$(ls -t "$demo"/clips/*/*.report.json 2> /dev/null | head -1 || true)
if [ -n "$report" ]; then
  "$bin/velmor" --command "$sock" "{\"command\":[\"verify\",\"$(cd "$(dirname "$report")" && pwd)/$(basename "$report")\"]}" \
    > "$demo/verify.json" || true
  grep -q '"ok":true' "$demo/verify.json" || echo "demo: the cut's report did not verify: $demo/verify.json" >&2
fi
# The vehicle's track of the same span from the partition, as a GPX file.
send "{\"command\":[\"cut\",{\"from\":1796119200,\"to\":1796119230,\"channels\":[1],\"format\":\"gpx\"}]}"
# The play-back view: the same windows without the side panels, at X32.
send "{\"command\":[\"page\",\"MainFrm_Btn_PlayBack\"]}" \
     "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}" \
     "{\"command\":[\"faster\"]}" "{\"command\":[\"faster\"]}"
sleep 6
send "{\"command\":[\"screenshot\",\"$shots/playback-channels-en.png\"]}" \
     "{\"command\":[\"screenshot\",\"$shots/speed-graph-en.png\",\"SpeedGraphChild\"]}" \
     "{\"command\":[\"open\",\"$(ls "$demo"/ifv/*.ifv | head -1)\"]}"
sleep 2
send "{\"command\":[\"screenshot\",\"$shots/playback-ifv-en.png\"]}" \
     "{\"command\":[\"open\",\"$(ls "$demo"/grec/*.grec | head -1)\"]}"
sleep 2
send "{\"command\":[\"screenshot\",\"$shots/playback-grec-en.png\"]}" \
     "{\"command\":[\"screenshot\",\"$shots/equalizer-en.png\",\"EqualizeSetting\"]}" \
     "{\"command\":[\"stop\"]}"
# The index disk's events as on-screen text: the emergency button of 14:10:03.
send "{\"command\":[\"settings\",{\"MapType\":0}]}" \
     "{\"command\":[\"page\",\"MainFrm_Btn_PlayBack\"]}" \
     "{\"command\":[\"search\",\"$demo/index-disk\",{\"types\":\"all\"}]}" \
     "{\"command\":[\"play_at\",\"2026-12-01 14:10:04\"]}"
sleep 3
send "{\"command\":[\"screenshot\",\"$shots/event-text-en.png\"]}" \
     "{\"command\":[\"stop\"]}" \
     "{\"command\":[\"screenshot\",\"$shots/settings-en.png\",\"ProjectSet\"]}" \
     "{\"command\":[\"quit\"]}"
wait "$pid"
echo "demo: the player ran on a virtual display; its pictures are in $shots:"
ls "$shots"

#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Idempotent: when everything is present it prints nothing and exits 0.
set -euo pipefail

packages=(
  # build tools
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev git
  # media
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libavfilter-dev ffmpeg
  libsdl2-dev libsdl2-ttf-dev libspeexdsp-dev
  # user interface
  qt6-base-dev qt6-tools-dev qt6-webengine-dev qt6-charts-dev libqt6uitools6
  libxlsxwriter-dev libjs-leaflet fonts-dejavu-core fonts-wqy-microhei
  xvfb xauth
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the package and its check; the mock desktop disk service of the disk tests
  lintian python3-dbusmock
  # small needs
  nlohmann-json3-dev libcli11-dev zlib1g-dev libsqlite3-dev
  # SHA-256 and Ed25519 signatures of export reports
  libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq >/dev/null
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

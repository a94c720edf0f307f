#!/usr/bin/env bash
# The package as a user gets it: lintian finds no error in it; unpacked into
# a scratch root, its programs tell their versions, and the player started
# from there on a virtual display plays a recording through its control
# socket, finds its resources in the package's share folder, and writes only
# to the user's folders (XDG), never into the installed tree.
set -euo pipefail
build=${1:-build}
deb=$(ls "$build"/velmor_*_amd64.deb | head -1)
version=$(dpkg-deb -f "$deb" Version)
fail() { echo "test-package: $*" >&2; exit 1; }

# Errors fail the check; the warnings kept are listed in the README.
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" || true
echo
lintian --fail-on error "$deb" > /dev/null 2>&1 || fail "lintian reports errors in $deb"

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
root="$work/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
[ "$("$bin/velmor" --version)" = "velmor $version" ] || fail "velmor --version"
[ "$("$bin/velmor-cli" --version)" = "velmor-cli $version" ] || fail "velmor-cli --version"
# The libraries come from the package, through the programs' run path.
[[ "$(ldd "$bin/velmor")" == *"librkmedia.so.0 => $root/usr/bin/../lib/velmor/"* ]] || fail "velmor does not load the package's rkmedia"

# The tests' demo corpus when they made one, else a corpus of its own.
demo="$build/test-corpus/demo"
if [ ! -f "$demo/MANIFEST.json" ]; then
  demo="$work/demo"
  "$build/bin/velmor-demo-disk" "$demo" > /dev/null 2>&1
fi
ifv=$(cd "$demo/ifv" && pwd)/$(ls "$demo/ifv" | grep -i '\.ifv$' | head -1)
"$bin/velmor-cli" info "$ifv" > "$work/info.json" || fail "velmor-cli info from the package"

# A user's session: a home of its own, no profile override.
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME VELMOR_PROFILE_DIR
mkdir -p "$HOME"
touch "$work/before"
sock="$work/velmor.sock"
scripts/with-display.sh "$bin/velmor" --control "$sock" > "$work/velmor.log" 2>&1 &
pid=$!
for _ in $(seq 200); do [ -S "$sock" ] && break; sleep 0.1; done
[ -S "$sock" ] || { cat "$work/velmor.log" >&2; fail "the player opened no control socket"; }
send() { "$bin/velmor" --command "$sock" "$@"; }
send "{\"command\":[\"open\",\"$ifv\"]}" > /dev/null || fail "open $ifv"
shown=0
for _ in $(seq 100); do
  state=$(send '{"command":["get","state"]}')
  shown=$(printf '%s' "$state" | python3 -c 'import json,sys; print(json.load(sys.stdin)["data"]["windows"][0]["shown"])')
  [ "$shown" -gt 0 ] && break
  sleep 0.2
done
[ "$shown" -gt 0 ] || fail "the player showed no picture of $ifv"
send '{"command":["quit"]}' > /dev/null || true
wait "$pid" || true
pid=

[ -d "$HOME/.config/velmor" ] || fail "no settings folder in \$HOME/.config/velmor"
[ -d "$HOME/.local/share/velmor" ] || fail "no data folder in \$HOME/.local/share/velmor"
written=$(find "$root" -newer "$work/before" -print)
[ -z "$written" ] || fail "the player wrote into the installed tree: $written"
echo "test-package: $deb passes lintian, and runs from a scratch root ($shown pictures shown, profile in \$HOME)"

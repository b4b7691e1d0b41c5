#!/usr/bin/env bash
# The main job: builds the plug-in and vestrel-host, plays an example scene
# through the real plug-in and writes the line it generated as a Wavefront OBJ
# file and a picture (SVG) into out/, and a 3-D page of it (HTML, opens from
# disk in any browser) where vestrel-host was built with it.
#
#   scripts/run-example.sh                      the embedded default scene (examples/helix.json)
#   scripts/run-example.sh examples/square.json [more `vestrel-host play` options]
#
# VESTREL_PRESET picks the build (default: default); VESTREL_OUT the folder.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${VESTREL_PRESET:-default}"
out="${VESTREL_OUT:-out}"

# The packages the build needs (cmake, a compiler, nlohmann-json, CLI11, ...);
# the cross-platform tools are left to scripts/test.sh (and Node.js and npm,
# which build the 3-D page, are used where they are installed).
VESTREL_SKIP_PLATFORM_PACKAGES=1 scripts/install-deps.sh

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target vestrel-host Vestrel

# The 3-D page where this build has it (it needs Node.js and npm's three.js).
host="build/$preset/vestrel-host"
page=()
if "$host" play --help | grep -q -- '--html' && ! "$host" play --help | grep -q 'no 3-D page'; then
  page=(--html)
fi

echo
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$host" play "$@" --out "$out" "${page[@]}" | tee "$log"
status=${PIPESTATUS[0]}
echo
if [ "$status" -eq 0 ]; then
  echo "The generated line and its picture are in $(cd "$out" && pwd)/:"
  ls -1 "$out"/*.obj "$out"/*.svg 2>/dev/null | sed 's/^/  /'
  written_page=$(sed -n 's/^wrote \(.*\.html\)$/\1/p' "$log" | tail -1)
  if [ -n "$written_page" ]; then
    echo
    echo "Open the 3-D view in a browser (drag to turn it, wheel to zoom, press play):"
    echo "  $(cd "$(dirname "$written_page")" && pwd)/$(basename "$written_page")"
  else
    echo "(no 3-D page: this vestrel-host was built without it; see vestrel-host play --help)"
  fi
else
  echo "vestrel-host exited with $status (see above)" >&2
fi
exit "$status"

#!/usr/bin/env bash
# The main job: builds the plug-in and vestrel-host, plays an example scene
# through the real plug-in and writes the line it generated as a Wavefront OBJ
# file and a picture (SVG) into out/.
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
# the cross-platform tools are left to scripts/test.sh.
VESTREL_SKIP_PLATFORM_PACKAGES=1 scripts/install-deps.sh

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target vestrel-host Vestrel

echo
status=0
"build/$preset/vestrel-host" play "$@" --out "$out" || status=$?
echo
if [ "$status" -eq 0 ]; then
  echo "The generated line and its picture are in $(cd "$out" && pwd)/:"
  ls -1 "$out"/*.obj "$out"/*.svg 2>/dev/null | sed 's/^/  /'
else
  echo "vestrel-host exited with $status (see above)" >&2
fi
exit "$status"

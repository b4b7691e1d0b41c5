#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
#
#   scripts/test.sh                 every configuration, then the release check
#   scripts/test.sh PRESET...       only these configurations (e.g. default windows-x64)
#
# The configurations, in order (the later ones use programs of "default"):
#   default, mac-packing   Linux, natural and macOS record packing (the latter
#                          under AddressSanitizer and UndefinedBehaviorSanitizer)
#   bare                   the plug-in alone, as a machine with only a compiler
#                          and CMake builds it (the optional packages hidden)
#   windows-x86            32-bit Windows Vestrel.plm; scenes and the validator
#                          played under 32-bit wine on qemu-i386
#   windows-x64            64-bit Windows Vestrel_64.plm; scenes played under wine64
#   macos-cross            the macOS Vestrel.plm (universal bundle) linked with
#                          clang and ld64.lld, no SDK, and inspected
#   win32-layout           the unit tests in the 32-bit Windows layout, under qemu-i386,
#                          sanitized as mac-packing is (no leak check under qemu)
#   big-endian             the unit tests on s390x under qemu-s390x; parameter
#                          blocks exchanged with the little-endian build
#   sanitize               the whole suite built with AddressSanitizer and
#                          UndefinedBehaviorSanitizer, any finding fatal
#   fuzz                   each libFuzzer target runs VESTREL_FUZZ_SECONDS
#                          (default 20) from its corpus (clang)
# A configuration whose tools cannot be had on this machine is reported as
# skipped, with the reason.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

all_presets=(default bare mac-packing windows-x86 windows-x64 macos-cross win32-layout big-endian sanitize fuzz)
if [ $# -gt 0 ]; then
  presets=("$@")
  run_release_check=0
else
  presets=("${all_presets[@]}")
  run_release_check=1
fi

# Prints why a configuration cannot be built here, or nothing.
missing_tools() {
  local tools=() tool
  case "$1" in
    windows-x86) tools=(i686-w64-mingw32-g++) ;;
    windows-x64) tools=(x86_64-w64-mingw32-g++) ;;
    macos-cross) tools=(clang++-14 ld64.lld-14 llvm-lipo-14) ;;
    win32-layout) tools=(i686-linux-gnu-g++ qemu-i386) ;;
    big-endian) tools=(s390x-linux-gnu-g++ qemu-s390x) ;;
    fuzz) tools=(clang++) ;;
  esac
  for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || echo -n "$tool not found; "
  done
  case "$1" in
    win32-layout | big-endian)
      [ -f /usr/src/googletest/CMakeLists.txt ] || echo -n "no GoogleTest sources in /usr/src/googletest; " ;;
  esac
}

summary=()
failed=0
for preset in "${presets[@]}"; do
  echo "== $preset =="
  why=$(missing_tools "$preset")
  if [ -n "$why" ]; then
    echo "SKIPPED configuration $preset: ${why%; }"
    summary+=("$preset: skipped (${why%; })")
    continue
  fi
  # CI's builds keep the code free of warnings: any warning fails them.
  configure_args=(-DVESTREL_WARNINGS_AS_ERRORS=ON)
  case "$preset" in
    fuzz) configure_args+=(-DVESTREL_FUZZ_SECONDS="${VESTREL_FUZZ_SECONDS:-20}") ;;
  esac
  started=$SECONDS
  if cmake --preset "$preset" "${configure_args[@]}" && cmake --build --preset "$preset" && ctest --preset "$preset"; then
    summary+=("$preset: passed ($((SECONDS - started)) s)")
  else
    summary+=("$preset: FAILED ($((SECONDS - started)) s)")
    failed=1
  fi
done

if [ "$run_release_check" = 1 ]; then
  echo "== release =="
  why="$(missing_tools windows-x86)$(missing_tools windows-x64)$(missing_tools macos-cross)"
  if [ -n "$why" ]; then
    summary+=("release: skipped (${why%; })")
  elif scripts/make-release.sh; then
    summary+=("release: passed")
  else
    summary+=("release: FAILED")
    failed=1
  fi
fi

echo "== summary =="
printf '  %s\n' "${summary[@]}"
exit $failed

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# Run as root (or with sudo available); prints what is missing otherwise.
#
# The base packages must install. The platform packages (cross compilers,
# wine, qemu, clang) are installed as far as they can be had: a configuration
# whose tools are missing is skipped by scripts/test.sh, and says so.
set -euo pipefail

base=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libboost-dev libtinygltf-dev libassimp-dev
)
base+=("$@")

# Windows modules (mingw-w64) and the Windows host under wine64 (the 32-bit
# one under 32-bit wine, whose i386 packages the tests fetch into the build
# folder, never into the system, and run on qemu-i386; wine's builtin
# zlib1.dll is made from libz-mingw-w64's); the 32-bit Windows record layout
# (i686 Linux) and big-endian Linux (s390x) under qemu's user mode;
# GoogleTest's sources to build for those targets; clang for the layout checks
# of the macOS and Windows targets, and with its runtime (libFuzzer, the
# sanitizers) for the fuzz targets; clang 14 with ld64.lld, llvm-lipo and
# llvm-dwarfdump for the macOS bundle, and python3 for its checks; valgrind
# for the memcheck run of vestrel-host; Node.js and npm for the Khronos glTF
# validator that checks every glTF file the tests write, and for the 3-D page
# (three.js bundled at build time); chromium to check that page in a real
# browser, headless (the tests drive this one, never a browser of their own).
platform=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 libz-mingw-w64
  g++-i686-linux-gnu g++-s390x-linux-gnu qemu-user googletest
  clang libclang-rt-14-dev clang-14 lld-14 llvm-14 python3 valgrind nodejs npm chromium
)
if [ "${VESTREL_SKIP_PLATFORM_PACKAGES:-0}" = 1 ]; then platform=(); fi

# The Khronos glTF validator (npm's gltf-validator, run by Node.js) checks the
# glTF files the tests write; it goes into a cache folder, where the tests
# look for it (VESTREL_GLTF_VALIDATOR overrides). Without it those tests skip.
# (three.js, which loads the trails beside their source, is the 3-D page's
# pinned copy that the build installs: cmake/HtmlPage.cmake.)
# Runs on every way out of this script, after the packages are in.
gltf_validator_dir="${XDG_CACHE_HOME:-$HOME/.cache}/vestrel/gltf-validator"
install_gltf_validator() {
  local status=$?
  if [ ! -d "$gltf_validator_dir/node_modules/gltf-validator" ] && command -v npm >/dev/null; then
    mkdir -p "$gltf_validator_dir" &&
      npm install --prefix "$gltf_validator_dir" --no-audit --no-fund gltf-validator >/dev/null ||
      echo "Could not install gltf-validator: the glTF validation tests are skipped" >&2
  fi
  return $status
}
trap install_gltf_validator EXIT

missing_of() {
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      echo "$package"
    fi
  done
}

mapfile -t missing_base < <(missing_of "${base[@]}")
mapfile -t missing_platform < <(missing_of "${platform[@]}")
[ $((${#missing_base[@]} + ${#missing_platform[@]})) -eq 0 ] && exit 0

echo "Installing: ${missing_base[*]} ${missing_platform[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null; then
  apt_get=(sudo apt-get)
else
  echo "Missing packages and no root rights: apt-get install ${missing_base[*]} ${missing_platform[*]}" >&2
  [ ${#missing_base[@]} -eq 0 ] && exit 0  # the platform configurations are skipped
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
install=("${apt_get[@]}" install -y -qq --no-install-recommends)
"${apt_get[@]}" update -qq

# Everything in one go; when that fails, the base packages alone (they must
# install) and then each platform package by itself.
if "${install[@]}" "${missing_base[@]}" "${missing_platform[@]}"; then
  exit 0
fi
[ ${#missing_base[@]} -eq 0 ] || "${install[@]}" "${missing_base[@]}"
for package in "${missing_platform[@]}"; do
  "${install[@]}" "$package" || echo "Could not install $package: the configurations that need it are skipped" >&2
done

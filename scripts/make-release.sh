#!/usr/bin/env bash
# Builds the shipping plug-ins and packs them into one folder and two archives:
#
#   build/release/Vestrel-<version>/        Vestrel.plm         32-bit Windows
#                                           Vestrel_64.plm      64-bit Windows
#                                           macOS/Vestrel.plm   macOS (x86_64 and arm64)
#                                           Vestrel.so          Linux (x86_64)
#                                           Vestrel.rsc         the dialog's resource file
#                                           INSTALL.txt
#   build/release/Vestrel-<version>.tar.gz and .zip
#
#   scripts/make-release.sh [OUTPUT-FOLDER]
#
# The modules are those of the presets windows-x86, windows-x64, macos-cross
# and default, the same files that scripts/test.sh tests, with their debug
# information stripped. Each packed module is checked again: one export (main
# or Main), on Windows no DLL but the system's, on macOS no library but the
# system's, every import listed in its stub, and the arm64 slice's ad-hoc
# signature (which stripping renews) valid.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
out=${1:-build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(sed -n 's/^project(Vestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=Vestrel-$version
folder=$out/$name

for preset in windows-x86 windows-x64 macos-cross default; do
  echo "== building Vestrel ($preset) =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target Vestrel
done

# The toolchain's own tool of a configuration, as CMake found it.
cache_tool() { sed -n "s/^$2:FILEPATH=//p" "build/$1/CMakeCache.txt"; }

rm -rf "$folder"
mkdir -p "$folder/macOS"
# preset | built file | packed as | format | entry
for row in "windows-x86|Vestrel.plm|Vestrel.plm|pe|main" "windows-x64|Vestrel_64.plm|Vestrel_64.plm|pe|main" \
           "macos-cross|Vestrel.plm|macOS/Vestrel.plm|macho|_Main" "default|Vestrel.so|Vestrel.so|elf|Main"; do
  IFS='|' read -r preset file packed format entry <<<"$row"
  cp "build/$preset/$file" "$folder/$packed"
  if [ "$format" = macho ]; then
    # Local symbols and the debug map (which names the build's object files)
    # go; llvm-strip signs the arm64 slice anew.
    "$(cache_tool "$preset" CMAKE_STRIP)" -x -S "$folder/$packed"
    for check in bundle libraries exports signature; do
      VESTREL_OBJDUMP=$(cache_tool "$preset" CMAKE_OBJDUMP) \
        python3 tests/platforms/macos_bundle_check.py "$check" "$folder/$packed"
    done
    VESTREL_OBJDUMP=$(cache_tool "$preset" CMAKE_OBJDUMP) \
      python3 tests/platforms/macos_bundle_check.py imports "$folder/$packed" cmake/macos-sdk/usr/lib/libSystem.tbd
    continue
  fi
  "$(cache_tool "$preset" CMAKE_STRIP)" --strip-unneeded "$folder/$packed"
  if [ "$format" = pe ]; then inspect=$(cache_tool "$preset" CMAKE_OBJDUMP); else inspect=$(cache_tool "$preset" CMAKE_NM); fi
  cmake -DFORMAT="$format" -DTOOL="$inspect" -DMODULE="$folder/$packed" -DENTRY="$entry" \
        -P "$source_dir/tests/platforms/check_module.cmake"
done
cp resources/Vestrel.rsc "$folder/Vestrel.rsc"

cat >"$folder/INSTALL.txt" <<EOF
Vestrel $version

A geometry plug-in: it turns the motion path of the first child group of its
group into a line of particles.

Which file
  Vestrel.plm         32-bit Windows hosts
  Vestrel_64.plm      64-bit Windows hosts
  macOS/Vestrel.plm   macOS hosts: one file for Intel (macOS 10.13 and later)
                      and Apple silicon (macOS 11 and later)
  Vestrel.so          Linux (development builds and the reference host)

Where each has run
  The Windows plug-ins have been run by a test host under wine on Linux (the
  32-bit one under processor emulation), with the same results as the Linux
  build. They have not been run on Windows itself.
  The macOS plug-in was linked on Linux without Apple's tools and checked
  file by file (one export, no library but the system's, its record layout,
  the signature of the Apple silicon part); it has not been run on a Mac.

Installing
  1. Quit the host application.
  2. Copy the plug-in file for your host into the host's plug-in folder.
  3. Copy Vestrel.rsc into the host's home directory: the plug-in opens it
     from there to show its dialog. Without it the plug-in still works, but
     its dialog cannot be opened.
  4. Start the host. The plug-in appears as "Vestrel".

The Windows plug-ins need no runtime DLLs: they use only KERNEL32 and the
system's C runtime (msvcrt). The macOS plug-in uses only the system library.
EOF

rm -f "$out/$name.tar.gz" "$out/$name.zip"
tar -czf "$out/$name.tar.gz" -C "$out" "$name"
(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

echo "== release =="
ls -l "$folder"
echo "$out/$name.tar.gz"
echo "$out/$name.zip"

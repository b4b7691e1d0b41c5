#!/bin/sh
# Makes the private i386 root that 32-bit wine runs from under qemu-i386,
# without installing anything into the system: the i386 packages are fetched
# with apt-get into package lists and a cache of their own, and unpacked with
# dpkg-deb -x.
#   i386_root.sh FOLDER       FOLDER/root is the root, FOLDER/apt apt's files
#
# The root is made once and kept. It is made again when the system's wine64
# changes version: the native wineserver serves the 32-bit programs, and both
# must be the same wine. Prints "SKIPPED: <why>" and exits with 77 when the
# root cannot be made here.
set -u

folder=${1:?usage: i386_root.sh FOLDER}
mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
root=$folder/root
stamp=$folder/root.stamp

skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Names only: the versions are pinned to the system's wine below, and the C
# runtime is whatever the release has.
wine_packages="wine32 libwine wine32-preloader"
runtime_packages="libc6 libgcc-s1"

wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) ||
  skip "wine64 is not installed; its wineserver serves the 32-bit programs"
want="wine $wine_version; packages $wine_packages $runtime_packages"
if [ -x "$root/usr/lib/wine/wine" ] && [ "$(head -n 1 "$stamp" 2>/dev/null)" = "$want" ]; then
  echo "i386 root up to date: $root ($want)"
  exit 0
fi

command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null ||
  skip "apt-get and dpkg-deb are needed to fetch and unpack the i386 packages"
zlib=/usr/i686-w64-mingw32/lib/zlib1.dll
[ -f "$zlib" ] || skip "$zlib not found (package libz-mingw-w64): wine's builtin zlib1.dll is made from it"

# apt works on lists and a cache of its own, for i386 only; the system's
# package lists, its dpkg database and its architectures stay as they are.
apt=$folder/apt
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
apt_options="-q -o Dir::State::Lists=$apt/lists -o Dir::Cache=$apt/cache
  -o Dir::State::status=/dev/null -o APT::Architecture=i386 -o APT::Architectures=i386
  -o Debug::NoLocking=true"
started=$(date +%s)
# shellcheck disable=SC2086
apt-get $apt_options update >"$folder/apt.log" 2>&1 ||
  skip "the i386 package lists could not be fetched (see $folder/apt.log)"

wanted=""
for package in $wine_packages; do wanted="$wanted $package:i386=$wine_version"; done
for package in $runtime_packages; do wanted="$wanted $package:i386"; done
rm -rf "$apt/debs"
mkdir -p "$apt/debs"
# shellcheck disable=SC2086
(cd "$apt/debs" && apt-get $apt_options download $wanted) >>"$folder/apt.log" 2>&1 ||
  skip "the i386 packages ($wanted) could not be fetched; is wine $wine_version in the release's i386 lists? (see $folder/apt.log)"

rm -rf "$root" "$stamp"
mkdir -p "$root"
for deb in "$apt"/debs/*.deb; do
  dpkg-deb -x "$deb" "$root" || { echo "could not unpack $deb"; exit 1; }
done

# What libwine's installation step would do: wine's builtin zlib1.dll is the
# mingw-w64 one, with wine's builtin mark in its DOS stub.
out=$root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
{
  head -c 64 "$zlib"
  printf '%s' 'Wine builtin DLL'
  printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
  tail -c +97 "$zlib"
} >"$out"

[ -x "$root/usr/lib/wine/wine" ] || { echo "the unpacked packages hold no usr/lib/wine/wine"; exit 1; }
{
  echo "$want"
  for deb in "$apt"/debs/*.deb; do basename "$deb"; done
} >"$stamp"
rm -rf "$apt"
echo "i386 root made in $(($(date +%s) - started)) s: $root ($(du -sm "$root" | cut -f1) MB)"
cat "$stamp"

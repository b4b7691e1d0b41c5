#!/bin/sh
# Runs a command in a private user and mount namespace whose own binfmt_misc
# instance hands i386 ELF programs to qemu-i386, so that a 32-bit program
# that starts other 32-bit programs (as wine does) runs them under qemu too.
# Nothing outside the namespace changes. Needs Linux 6.7 or later (binfmt_misc
# per user namespace) and user namespaces allowed.
#   i386ns.sh COMMAND [ARGUMENTS...]
# QEMU_LD_PREFIX names the i386 root the programs' loader and libraries come
# from. When the namespace cannot be made, prints "SKIPPED: <why>" and exits
# with 77 without running the command.
set -u

skip() {
  echo "SKIPPED: $*"
  exit 77
}

qemu=$(command -v qemu-i386) || skip "qemu-i386 not found (package qemu-user)"
command -v unshare >/dev/null || skip "unshare not found (package util-linux)"
: "${QEMU_LD_PREFIX:?QEMU_LD_PREFIX must name the i386 root}"
export QEMU_LD_PREFIX

# Matches i386 ELF executables and shared objects (e_machine 3); the F flag
# opens qemu-i386 now, so the programs find it whatever their root.
rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F'

unshare --user --map-root-user --mount true 2>/dev/null ||
  skip "no user namespace can be made here (unshare --user --mount failed)"

# The inner shell reports a namespace it could not set up with 77 before it
# runs the command; the command's own exit code passes through unchanged.
exec unshare --user --map-root-user --mount --fork sh -c '
  rule=$1
  shift
  if ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
     ! printf "%s" "$rule" >/proc/sys/fs/binfmt_misc/register 2>/dev/null; then
    echo "SKIPPED: binfmt_misc cannot be mounted in a user namespace here (kernel $(uname -r); needs 6.7 or later)"
    exit 77
  fi
  exec "$@"' i386ns "$rule" "$@"

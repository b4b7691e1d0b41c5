#!/bin/sh
# Runs 32-bit Windows programs under 32-bit wine on qemu-i386, for CTest; the
# interface of wine.sh:
#   wine32.sh start            starts one persistent wineserver, makes the
#                              prefix (WINEPREFIX) when it is missing or was
#                              made with other packages, and starts the
#                              session's background processes
#   wine32.sh stop             stops that wineserver and everything under it
#   wine32.sh run PROGRAM ...  runs a Windows program
# Wine comes from the private i386 root VESTREL_I386_ROOT (i386_root.sh makes
# it); the native wineserver VESTREL_WINESERVER serves the 32-bit programs.
# Every wine program runs inside i386ns.sh. Where any of it is missing, the
# command prints "SKIPPED: <why>" and exits with 77.
set -u
here=$(cd "$(dirname "$0")" && pwd)

skip() {
  echo "SKIPPED: $*"
  exit 77
}

: "${VESTREL_I386_ROOT:?VESTREL_I386_ROOT must name the private i386 root}"
: "${WINEPREFIX:?WINEPREFIX must name the build folder's 32-bit wine prefix}"
wine32=$VESTREL_I386_ROOT/usr/lib/wine/wine
wineserver=${VESTREL_WINESERVER:-}
[ -x "$wine32" ] || skip "no 32-bit wine in $VESTREL_I386_ROOT (see the test wine.i386_root)"
[ -n "$wineserver" ] && [ -x "$wineserver" ] || skip "no native wineserver (package wine64)"
export QEMU_LD_PREFIX="$VESTREL_I386_ROOT" WINEPREFIX WINEARCH=win32 WINESERVER="$wineserver" \
  WINEDEBUG="${WINEDEBUG:--all}" \
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d}"
log="$WINEPREFIX.log"
i386ns="$here/i386ns.sh"

# The prefix is kept between runs; it is made again when the root is another.
prefix_ready() {
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && [ -f "$WINEPREFIX/.update-timestamp" ] &&
    cmp -s "$VESTREL_I386_ROOT.stamp" "$WINEPREFIX.stamp"
}

case "${1:-}" in
  start)
    # Fails with 77 and the reason when no namespace can be made here.
    sh "$i386ns" true || exit $?
    # A server left by an interrupted run would refuse a second one.
    "$wineserver" -k </dev/null >>"$log" 2>&1
    if ! prefix_ready; then
      rm -rf "$WINEPREFIX" "$WINEPREFIX.stamp"
      mkdir -p "$WINEPREFIX"
    fi
    # Persistent, so that the tests share it; should the stop never come, it
    # ends two minutes after its last program. Neither the server nor the
    # session's background processes may hold CTest's output pipes.
    "$wineserver" -p120 </dev/null >>"$log" 2>&1 || { echo "wineserver did not start (see $log)"; exit 1; }
    if ! prefix_ready; then
      started=$(date +%s)
      # Under qemu-i386 a helper process of wineboot sometimes crashes and
      # wineboot exits with 137, leaving the prefix made all the same: the
      # prefix counts as made when its system files are there.
      for try in 1 2 3; do
        timeout 180 sh "$i386ns" "$wine32" wineboot --init </dev/null >>"$log" 2>&1
        rc=$?
        [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] &&
          [ -f "$WINEPREFIX/.update-timestamp" ] && break
        echo "note: wineboot exited with $rc and left no prefix (try $try; see $log)"
        "$wineserver" -k </dev/null >>"$log" 2>&1
        "$wineserver" -p120 </dev/null >>"$log" 2>&1
      done
      [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] ||
        { echo "the wine prefix $WINEPREFIX could not be made (see $log)"; exit 1; }
      cp "$VESTREL_I386_ROOT.stamp" "$WINEPREFIX.stamp"
      echo "prefix made in $(($(date +%s) - started)) s: $WINEPREFIX"
    else
      echo "prefix kept: $WINEPREFIX"
    fi
    # A helper that crashes under qemu would start wine's debugger, which
    # hangs there; winedbg.exe is disabled above, so the crash just ends it.
    # The session's background processes (services.exe, explorer.exe, ...)
    # start with the first program. Started later by a test's program they
    # would hold that test's output pipes, so one program is run here, until
    # it answers: a start-up that crashes under qemu leaves them to the next.
    # The answer goes to a file: the background processes inherit the
    # program's output, and a pipe would stay open as long as they run.
    for try in 1 2 3 4 5; do
      timeout 60 sh "$i386ns" "$wine32" cmd /c echo session-ready </dev/null >"$WINEPREFIX.ready" 2>>"$log"
      grep -q session-ready "$WINEPREFIX.ready" && break
      echo "note: the wine session did not answer yet (try $try; see $log)"
      [ "$try" = 5 ] && { echo "the wine session did not start (see $log)"; exit 1; }
    done
    echo "wineserver running for $WINEPREFIX (32-bit wine under qemu-i386)"
    ;;
  stop)
    "$wineserver" -k </dev/null >>"$log" 2>&1
    echo "wineserver stopped"
    ;;
  run)
    shift
    [ -d "$WINEPREFIX/drive_c" ] || skip "no 32-bit wine prefix (see the test wine.start)"
    # The program writes into files, shown when it ends: a background process
    # of the session that crashed under qemu and is started again by this
    # program inherits them instead of the caller's pipes, which it would
    # hold open for minutes.
    out=$(mktemp "$WINEPREFIX.out.XXXXXX") && err=$(mktemp "$WINEPREFIX.err.XXXXXX") ||
      { echo "cannot make temporary files beside $WINEPREFIX"; exit 1; }
    sh "$i386ns" "$wine32" "$@" >"$out" 2>"$err"
    rc=$?
    cat "$out"
    cat "$err" >&2
    rm -f "$out" "$err"
    exit $rc
    ;;
  *)
    echo "usage: wine32.sh start|stop|run PROGRAM [ARGUMENTS...]" >&2
    exit 2
    ;;
esac

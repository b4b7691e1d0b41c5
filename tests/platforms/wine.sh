#!/bin/sh
# Runs Windows programs under wine64 for CTest.
#   wine.sh start            starts one persistent wineserver and makes the
#                            prefix (WINEPREFIX) ready; the fixture's set-up
#   wine.sh stop             stops that wineserver and everything under it
#   wine.sh run PROGRAM ...  runs a Windows program
# VESTREL_WINE64 and VESTREL_WINESERVER name the programs. Without wine the
# command prints "SKIPPED: ..." and exits with 77.
set -u

if [ -z "${VESTREL_WINE64:-}" ] || [ ! -x "${VESTREL_WINE64}" ]; then
  echo "SKIPPED: wine64 not found; install the wine64 package to run the Windows programs"
  exit 77
fi
: "${WINEPREFIX:?WINEPREFIX must name the build folder's wine prefix}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wineserver="${VESTREL_WINESERVER:-$(dirname "$VESTREL_WINE64")/wineserver}"
log="$WINEPREFIX.log"

case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    # A server left by an interrupted run would refuse a second one.
    "$wineserver" -k </dev/null >>"$log" 2>&1
    # Persistent, so that the tests share it; should the stop never come (an
    # interrupted run), it still ends two minutes after its last program.
    # Neither the server nor the prefix's background processes may hold
    # CTest's output pipes, or CTest would wait for them to end.
    "$wineserver" -p120 </dev/null >>"$log" 2>&1 || { echo "wineserver did not start (see $log)"; exit 1; }
    if ! "$VESTREL_WINE64" wineboot --init </dev/null >>"$log" 2>&1; then
      echo "the wine prefix $WINEPREFIX could not be made (see $log)"
      exit 1
    fi
    echo "wineserver running for $WINEPREFIX"
    ;;
  stop)
    "$wineserver" -k </dev/null >>"$log" 2>&1
    echo "wineserver stopped"
    ;;
  run)
    shift
    exec "$VESTREL_WINE64" "$@"
    ;;
  *)
    echo "usage: wine.sh start|stop|run PROGRAM [ARGUMENTS...]" >&2
    exit 2
    ;;
esac

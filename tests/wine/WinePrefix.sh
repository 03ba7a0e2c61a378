#!/bin/sh
# The Wine prefix that the Wine tests of one ctest run share.
#   WinePrefix.sh create PREFIX LOADER   a fresh prefix, its server kept up between tests
#   WinePrefix.sh remove PREFIX          the server stopped and the prefix deleted
set -eu
export WINEPREFIX="$2"
export WINEDEBUG=-all
# No Mono or Gecko: their installers would ask a person first.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

case "$1" in
create)
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    mkdir -p "$WINEPREFIX"
    # Every program would otherwise start a server of its own, a second or so each. The server
    # still ends by itself a minute after the last program if the cleanup never runs.
    wineserver -p60 </dev/null >/dev/null 2>&1
    # Wine's own services live on with the server and would hold ctest's output pipes open
    # until it ends, so their output goes to a file.
    log="$WINEPREFIX/wineboot.log"
    if ! "$3" wineboot -i >"$log" 2>&1; then
        cat "$log"
        # Where the kernel runs no 32-bit programs, a 64-bit prefix lacks only its 32-bit half,
        # yet wineboot reports failure: the 64-bit half decides.
        [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]
    fi
    ;;
remove)
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
*)
    echo "usage: $0 create PREFIX LOADER | remove PREFIX" >&2
    exit 2
    ;;
esac

# Wine environment for tests and the demo; source it, then call wine_env_start / wine_env_stop.
#
#   wine_env_start fresh|reuse [win32|win64]
#
# win32 (the default): makes (or reuses) a 32-bit prefix under build/wine/prefix, starts a private Xvfb, installs
# the source below C:\windows\twain_32\Zelmar\ and our TWAIN_32.DLL into system32 (chosen over
# Wine's own manager with WINEDLLOVERRIDES), and maps COM1..COM4 to the symlinks
# build/wine/ports/com1..com4. A test points such a symlink at a simulator's pty; nothing
# needs the registry to change while Wine runs.
# win64: the same with a 64-bit prefix under build/wine64/prefix for the 64-bit build
# (build/win64/bin): the source below C:\windows\twain_64\Zelmar\; our 64-bit manager
# (TWAINDSM.DLL) stays beside the 64-bit programs that load it.
#
# DORVEX_WINE_ROOT, when set, names the folder for the prefix, its port links and its display
# instead of build/wine (win64: the same name ending in 64, as build/wine64): ./run gives each
# command and each test lane its own, so that no two share a prefix, a display or a COM port.
# DORVEX_WINE_TEMPLATE, when set, is a finished prefix of the same architecture that a missing
# prefix is copied from instead of running wineboot (seconds instead of half a minute).
#
# Exports: WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY DORVEX_PORTS DORVEX_ROOT

DORVEX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export DORVEX_ROOT
_wine_root="$DORVEX_ROOT/build/wine"
_xvfb_pid=""

wine_env_start() {  # fresh | reuse, then win32 | win64
    local mode="${1:-reuse}"
    local arch="${2:-win32}"
    _wine_root="$DORVEX_ROOT/build/wine"
    local bin="$DORVEX_ROOT/build/win/bin" twain_dir=twain_32
    if [ "$arch" = win64 ]; then
        _wine_root="$DORVEX_ROOT/build/wine64"
        bin="$DORVEX_ROOT/build/win64/bin"
        twain_dir=twain_64
    fi
    if [ -n "${DORVEX_WINE_ROOT:-}" ]; then
        _wine_root="$DORVEX_WINE_ROOT"
        [ "$arch" = win64 ] && _wine_root="${DORVEX_WINE_ROOT}64"
    fi
    export WINEARCH="$arch" WINEDEBUG=-all
    export WINEPREFIX="$_wine_root/prefix"
    export DORVEX_PORTS="$_wine_root/ports"
    if [ "$mode" = fresh ]; then
        [ -d "$WINEPREFIX" ] && WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
        rm -rf "$_wine_root"
    fi
    mkdir -p "$DORVEX_PORTS"

    # A private X display; -displayfd tells us which number it took.
    local fdfile="$_wine_root/xvfb.display"
    rm -f "$fdfile"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
    _xvfb_pid=$!
    local i
    for i in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -1 "$fdfile")"

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        if [ -n "${DORVEX_WINE_TEMPLATE:-}" ] && [ -f "$DORVEX_WINE_TEMPLATE/system.reg" ]; then
            _wine_copy_prefix "$DORVEX_WINE_TEMPLATE" "$WINEPREFIX"
        else
            wineboot -i >/dev/null 2>&1
        fi
    fi
    local n
    for n in 1 2 3 4; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$DORVEX_PORTS/com$n" /f >/dev/null 2>&1
    done
    # Without a window manager Wine waits ~2 s whenever a window is hidden; unmanaged windows don't.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The Japanese dialog and cell fonts name Windows faces that Linux lacks: map them to the
    # IPA fonts so Japanese text renders. The names are not ASCII, so they go in as a UTF-16
    # registry file rather than through the command line.
    python3 "$DORVEX_ROOT/tools/wine/font_replacements.py" "$_wine_root/fonts.reg"
    wine regedit /S "$(winepath -w "$_wine_root/fonts.reg" 2>/dev/null)" >/dev/null 2>&1
    wineserver -w

    local twain="$WINEPREFIX/drive_c/windows/$twain_dir/Zelmar"
    mkdir -p "$twain"
    # Removed first: a copied prefix shares the template's files (below), which must not change.
    rm -f "$twain/DorvexTwain.ds"
    [ -f "$bin/DorvexTwain.ds" ] && cp "$bin/DorvexTwain.ds" "$twain/"
    if [ "$arch" = win32 ] && [ -f "$bin/TWAIN_32.DLL" ]; then
        rm -f "$WINEPREFIX/drive_c/windows/system32/twain_32.dll"
        cp "$bin/TWAIN_32.DLL" "$WINEPREFIX/drive_c/windows/system32/twain_32.dll"
    fi
    export WINEDLLOVERRIDES="twain_32=n"
    # Keep one wineserver for the whole run: every program then starts in about half a second.
    # Its services (services.exe, winedevice.exe, ...) start with the first program and live
    # as long as the server, holding that program's stdout and stderr. Start them here with
    # those going nowhere; otherwise they inherit the pipes of the first test and ctest waits
    # for that test's output to end until the server is killed.
    wineserver -p >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    return 0
}

# Copies a prefix. Wine's libraries (system32, syswow64: most of its 600 MB) are hard links to
# the template's, as Wine only reads them; everything else (the registry, the profile folders)
# is copied, so that the two prefixes share no file that either writes.
_wine_copy_prefix() {  # template, target
    local lib
    mkdir -p "$2"
    (cd "$1" && tar --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 -cf - .) |
        (cd "$2" && tar -xpf -)
    for lib in system32 syswow64; do
        [ -d "$1/drive_c/windows/$lib" ] && cp -al "$1/drive_c/windows/$lib" "$2/drive_c/windows/"
    done
    return 0
}

# Points COMn (1..4) at a device (a pty path), or removes the mapping when no device is given.
wine_map_port() {
    rm -f "$DORVEX_PORTS/com$1"
    [ -n "${2:-}" ] && ln -s "$2" "$DORVEX_PORTS/com$1"
    return 0
}

wine_env_stop() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    if [ -n "$_xvfb_pid" ]; then
        kill "$_xvfb_pid" 2>/dev/null || true
        wait "$_xvfb_pid" 2>/dev/null || true
        _xvfb_pid=""
    fi
}

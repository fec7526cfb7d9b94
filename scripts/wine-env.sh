# Sourced by the scripts that run the Windows build under wine: one wine prefix for all of
# them, quiet, with the Qt and MinGW runtime DLLs on its search path and a wine server kept
# running between programs, so that each program starts in a fraction of a second.
#
#   source scripts/wine-env.sh
#   wine_start            # makes the prefix once, starts the server
#   wine program.exe ...  # as often as needed
#   wine_stop             # ends the server (and every program still running in it)

wine_cache=${APPLY_UPDATE_WINDOWS_CACHE:-/var/cache/apply-update-windows}
export WINEPREFIX=${WINEPREFIX:-$wine_cache/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko installer questions when the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Z: is the Linux root in every prefix, so Linux paths work as Z:\... as they are.
wine_path_of() { # wine_path_of LINUX_PATH: the same path as Windows programs see it
    local p
    p=$(realpath -m "$1")
    printf 'Z:%s\n' "${p//\//\\}"
}
# Qt's DLLs and the MinGW runtime, for programs run from the build folder (the zip carries
# its own copies beside the programs).
WINEPATH="$(wine_path_of "$wine_cache/qt/bin")"
WINEPATH+=";$(wine_path_of /usr/lib/gcc/x86_64-w64-mingw32/12-posix)"
WINEPATH+=";$(wine_path_of /usr/x86_64-w64-mingw32/lib)"
export WINEPATH
# Qt finds its platform plugin beside Qt6Core.dll only when they were installed together.
export QT_PLUGIN_PATH=${QT_PLUGIN_PATH:-$(wine_path_of "$wine_cache/qt/plugins")}

wine_start() {
    mkdir -p "$WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w
    fi
    # Debian's wine has no Tahoma, which Qt's Windows style asks for: text would be drawn
    # beside the fields instead of in them.
    # Copied into the prefix and registered as Windows registers its fonts.
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    if [ ! -f "$fonts/tahoma.ttf" ] && [ -f /usr/share/wine/fonts/tahoma.ttf ]; then
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$fonts/"
        local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
        wine reg add "$key" /v "Tahoma (TrueType)" /d tahoma.ttf /f >/dev/null 2>&1 || true
        wine reg add "$key" /v "Tahoma Bold (TrueType)" /d tahomabd.ttf /f >/dev/null 2>&1 || true
        wineserver -w
    fi
    # Persistent until wine_stop: no server start and prefix check per program.
    wineserver -p
}

wine_stop() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

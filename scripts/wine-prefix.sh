# Sourced by the scripts that run Windows programs under Wine: the environment they run in, and Wine
# prefixes made afresh, so that no registry value, device or printer survives from one run to the next.

export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or HTML engine: a fresh prefix would otherwise offer to download them. Overrides that a test's
# environment sets (a native dbghelp first) are kept.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
unset DISPLAY WAYLAND_DISPLAY

# Makes the prefix at $WINEPREFIX.
wine_prefix_boot() {
    wineboot -i >/dev/null 2>&1
    # Stopping the server after the prefix is made keeps the first program from stalling on the
    # start-up work that wineboot leaves running.
    wineserver -k >/dev/null 2>&1 || true
}

wine_prefix_remove() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$(dirname "$WINEPREFIX")"
    fi
}

# A prefix in a temporary directory for this script alone, removed when it exits.
wine_prefix_create() {
    local base
    base="$(mktemp -d "${TMPDIR:-/tmp}/vracoins-wine.XXXXXX")"
    export WINEPREFIX="$base/prefix"
    trap wine_prefix_remove EXIT
    wine_prefix_boot
}

# Wine set-up shared by wine-run, the end-to-end tests, the demo and the
# benchmark. Source it; it only defines variables and functions.
#
# Every prefix lives under the temp dir with a HOME of its own beside it, so
# nothing is written to the real home (a new prefix links Desktop, Documents
# and the like to $HOME).
#
# CORVALES_WINE_ARCH picks the kind of Windows: win64 (the default; it runs
# 32-bit programs too, under WoW64) or win32 (a 32-bit Windows, whose prefix
# only 32-bit programs run in). Each kind has its own template and loader.
#
#   corvales_wine_session          export WINEPREFIX/HOME for the shared
#                                  per-user prefix, making it on first use
#   corvales_wine_fresh_prefix DIR make DIR/prefix + DIR/home, a throwaway
#                                  copy of an initialised template prefix
#   corvales_wine_use DIR          export WINEPREFIX/HOME for such a DIR
#   corvales_wine_start            start the prefix's server and services
#                                  detached from our stdio
#   corvales_wine_set_browser CMD  route opened web addresses to Unix CMD
#   corvales_wine_discard          end the prefix's processes
#                                  (remove its DIR yourself)

CORVALES_WINE_ARCH=${CORVALES_WINE_ARCH:-win64}
case $CORVALES_WINE_ARCH in
    win64) corvales_wine_suffix= ; corvales_wine_loader=/usr/lib/wine/wine64 ;;
    win32) corvales_wine_suffix=-win32 ; corvales_wine_loader=/usr/lib/wine/wine ;;
    *) echo "wine-env: CORVALES_WINE_ARCH must be win64 or win32, not $CORVALES_WINE_ARCH" >&2
       return 2 2>/dev/null || exit 2 ;;
esac
CORVALES_WINE=${CORVALES_WINE:-$corvales_wine_loader}
CORVALES_WINESERVER=${CORVALES_WINESERVER:-/usr/lib/wine/wineserver}
CORVALES_WINE_TMP=${TMPDIR:-/tmp}
CORVALES_WINE_TEMPLATE=${CORVALES_WINE_TEMPLATE:-$CORVALES_WINE_TMP/corvales-wine-$(id -u)-template$corvales_wine_suffix}

# Quiet, no Linux menu entries; overrides the caller set are kept.
corvales_wine_quiet() {
    export WINEDEBUG=-all
    case ";${WINEDLLOVERRIDES:-};" in
        *winemenubuilder*) ;;
        ";;") export WINEDLLOVERRIDES="winemenubuilder.exe=d" ;;
        *) export WINEDLLOVERRIDES="winemenubuilder.exe=d;$WINEDLLOVERRIDES" ;;
    esac
}

corvales_wine_use() {
    export WINEPREFIX="$1/prefix" HOME="$1/home" WINEARCH=$CORVALES_WINE_ARCH
    corvales_wine_quiet
}

# A prefix made by another Wine build would be upgraded in place on first
# use, which would write through the hard links of every copy.
corvales_wine_stamp() {
    "$CORVALES_WINE" --version 2>/dev/null
    stat -c '%Y %s' /usr/share/wine/wine.inf 2>/dev/null || true
    # A 64-bit prefix made before 32-bit Wine came has no SysWOW64.
    dpkg-query -W -f='${Version}\n' wine32:i386 2>/dev/null || echo 'no wine32'
    # How the template is laid out; a change here must remake it.
    echo 'layout 2: no kernel file in syswow64'
}

# Makes the template once per Wine build; callers hold its lock.
corvales_wine_make_template() {
    local dir=$CORVALES_WINE_TEMPLATE stamp
    stamp=$(corvales_wine_stamp)
    if [ -f "$dir/ready" ] && [ "$(cat "$dir/ready")" = "$stamp" ]; then
        return 0
    fi
    rm -rf "$dir/prefix" "$dir/home" "$dir/ready"
    mkdir -p "$dir/home"
    (
        corvales_wine_use "$dir"
        # The first prefix on a machine can take minutes; no time limit here.
        "$CORVALES_WINE" wineboot -i </dev/null >/dev/null 2>&1
        # Lets windows and message boxes exist without a display.
        "$CORVALES_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f </dev/null >/dev/null 2>&1
        # Copies are taken from the files, so the registry must be saved first.
        "$CORVALES_WINESERVER" -w
        # 64-bit Windows keeps no kernel file in SysWOW64, where a 32-bit
        # program's look-ups in the system directory go; Wine does.
        rm -f "$dir/prefix/drive_c/windows/syswow64/ntoskrnl.exe"
    ) || return 1
    if ! grep -q '"Graphics"="null"' "$dir/prefix/user.reg"; then
        echo "wine-env: could not initialise $dir/prefix" >&2
        return 1
    fi
    printf '%s\n' "$stamp" >"$dir/ready"
}

corvales_wine_template() {
    mkdir -p "$(dirname "$CORVALES_WINE_TEMPLATE")"
    (
        flock 9
        corvales_wine_make_template
    ) 9>"$CORVALES_WINE_TEMPLATE.lock"
}

# Copying the template takes a fraction of a second where wineboot takes
# over ten. Wine's modules are never written after wineboot, so they are
# hard-linked; everything else (registry, user folders, ini files) is copied.
corvales_wine_clone() {
    local prefix=$1 home=$2 src=$CORVALES_WINE_TEMPLATE
    rm -rf "$prefix" "$home"
    mkdir -p "$home" "$(dirname "$prefix")"
    cp -al "$src/prefix" "$prefix" || return 1
    (
        cd "$prefix" &&
        find . -type f ! \( -path './drive_c/windows/*' \( -iname '*.dll' -o -iname '*.exe' \
            -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.ocx' -o -iname '*.cpl' -o -iname '*.acm' \
            -o -iname '*.ax' -o -iname '*.tlb' -o -iname '*.nls' -o -iname '*.com' -o -iname '*.ds' \) \) \
            -exec cp -p --remove-destination "$src/prefix/{}" "{}" \;
    ) || return 1
    # The user folders link to the template's HOME; point them at ours.
    local link target
    while IFS= read -r -d '' link; do
        target=$(readlink "$link")
        case "$target" in
            "$src/home"|"$src/home/"*) ln -sfn "$home${target#"$src/home"}" "$link" ;;
        esac
    done < <(find "$prefix" -type l -print0)
}

corvales_wine_fresh_prefix() {
    corvales_wine_template || return 1
    # Another job may be rebuilding the template; copy it only while whole.
    (
        flock -s 9
        corvales_wine_clone "$1/prefix" "$1/home"
    ) 9>"$CORVALES_WINE_TEMPLATE.lock"
}

# The shared prefix of a build and test session (ctest runs every Windows
# unit test in it). Several jobs may start at once: the first makes it.
corvales_wine_session() {
    local prefix=${CORVALES_WINEPREFIX:-$CORVALES_WINE_TMP/corvales-wine-$(id -u)$corvales_wine_suffix}
    local stamp
    mkdir -p "$(dirname "$prefix")"
    stamp=$(corvales_wine_stamp)
    (
        flock 9
        if [ ! -f "$prefix.ready" ] || [ "$(cat "$prefix.ready")" != "$stamp" ]; then
            rm -f "$prefix.ready"
            corvales_wine_template || exit 1
            (
                flock -s 8
                corvales_wine_clone "$prefix" "$prefix-home"
            ) 8>"$CORVALES_WINE_TEMPLATE.lock" || exit 1
            printf '%s\n' "$stamp" >"$prefix.ready"
        fi
    ) 9>"$prefix.lock" || return 1
    export WINEPREFIX=$prefix HOME=$prefix-home WINEARCH=$CORVALES_WINE_ARCH
    corvales_wine_quiet
}

# The first Wine command in a prefix starts its wineserver and services,
# which inherit that command's stdout and stderr and outlive it: a caller
# reading them to the end (ctest, a pipe) would wait for the whole session.
corvales_wine_start() {
    "$CORVALES_WINESERVER" -k0 2>/dev/null ||
        "$CORVALES_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# CMD receives each opened web address as its only argument. Wine tries
# each entry of this comma-separated list until one starts.
corvales_wine_set_browser() {
    "$CORVALES_WINE" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$1" /f </dev/null >/dev/null 2>&1
}

# Unix path -> the same file seen from Windows (drive Z: is /).
corvales_wine_path() {
    local p
    p=$(readlink -f "$1")
    printf 'Z:%s\n' "${p//\//\\}"
}

corvales_wine_discard() {
    "$CORVALES_WINESERVER" -k 2>/dev/null || true
    "$CORVALES_WINESERVER" -w 2>/dev/null || true
}

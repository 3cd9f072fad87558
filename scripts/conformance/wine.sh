# Wine prefixes, displays and builds for scripts/conformance.sh and
# scripts/screenshots.sh (sourced; ROOT is the repository, TOOL the name the
# messages start with).

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Wine, Xvfb and the x86_64 MinGW compiler, installed when missing.
need_wine_tools() {
    local missing=() t
    for t in wine wineserver Xvfb x86_64-w64-mingw32-g++; do
        command -v "$t" >/dev/null || missing+=("$t")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) -ne 0 ]]; then
        echo "$TOOL: ${missing[*]} missing; run scripts/install-deps.sh --wine as root" >&2
        exit 2
    fi
    echo "$TOOL: installing ${missing[*]} (scripts/install-deps.sh --wine)" >&2
    "$ROOT/scripts/install-deps.sh" --wine >&2
}

# The Linux build in DIR (ntsim and the staged package), built when missing:
# build/ through scripts/build.sh, another folder (build-sanitize, say) as it
# is configured, or configured like build/ when it is new.
need_linux_build() {
    local dir=$1
    [[ -x "$dir/ntsim" && -e "$dir/package/DRV_MEQ.INF" ]] && return 0
    echo "$TOOL: building ntsim and the package in $dir" >&2
    if [[ "$dir" == "$ROOT/build" ]]; then
        "$ROOT/scripts/build.sh" >&2
    else
        [[ -e "$dir/CMakeCache.txt" ]] ||
            cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
        ninja -C "$dir" -j2 >&2
    fi
}

# The x86_64 MinGW build in DIR (SETUP.EXE, setupres.dll, the kernel
# drivers, WINDESK.EXE).
need_win64_build() {
    local dir=$1
    [[ -e "$dir/package/SETUP.EXE" && -e "$dir/package/setupres.dll" && -e "$dir/package/QZVMDM.SYS" &&
        -e "$dir/tools/WINDESK.EXE" ]] && return 0
    echo "$TOOL: building the x86_64 programs in $dir" >&2
    [[ -e "$dir/CMakeCache.txt" ]] ||
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" >&2
    ninja -C "$dir" -j2 >&2
}

# A new prefix P with the package, the program and the desk in C:\MODEM and
# C:\DESK, its server ended: the Windows build's kernel drivers, where the
# simulated machine has ntsim's driver images. Wine's output goes to files:
# its device manager holds a pipe until the server ends.
wine_template() {
    local p=$1 package=$2 winpackage=$3 f
    WINEPREFIX=$p wineboot -i >"$p.boot.log" 2>&1
    WINEPREFIX=$p wineserver -w
    mkdir -p "$p/drive_c/MODEM" "$p/drive_c/DESK"
    cp "$package"/DRV_MEQ.INF "$package"/MDMQZV.INF "$winpackage"/*.SYS "$p/drive_c/MODEM/"
    cp "$winpackage"/SETUP.EXE "$winpackage"/setupres.dll "$p/drive_c/MODEM/"
    if [[ -e "$winpackage/nyvcpl.cpl" ]]; then cp "$winpackage/nyvcpl.cpl" "$p/drive_c/MODEM/"; fi
    # The uninstall hands the program's files to ISDEL.EXE in the Windows
    # directory, where a Windows machine with the package keeps it.
    if [[ -e "$winpackage/ISDEL.EXE" ]]; then cp "$winpackage/ISDEL.EXE" "$p/drive_c/windows/"; fi
    cp "$(dirname "$winpackage")/tools/WINDESK.EXE" "$p/drive_c/DESK/"
    cp "$ROOT/scripts/conformance/wine-seed.reg" "$p/drive_c/DESK/seed.reg"
}

# A copy of the ended prefix TEMPLATE as P. Inside, the drive links are
# relative (c: is ../drive_c) and the registry names no host path; only the
# file naming the server's private directory is the template's, and without
# it the copy's first server makes its own. Wine's own images below the
# Windows directory, nine tenths of the prefix, are never written after the
# boot: they are linked, every other file is copied.
wine_copy() {
    cp -al "$1" "$2"
    rm -f "$2/wineserver"
    python3 - "$2" <<'PY'
import os, shutil, sys
prefix = sys.argv[1]
windows = os.path.join(prefix, "drive_c", "windows") + os.sep
images = (".dll", ".exe", ".sys", ".drv", ".ocx", ".acm", ".cpl", ".tlb")
for folder, _, files in os.walk(prefix):
    for name in files:
        path = os.path.join(folder, name)
        if os.path.islink(path) or (path.startswith(windows) and name.lower().endswith(images)):
            continue
        shutil.copy2(path, path + ".copy")
        os.replace(path + ".copy", path)
PY
}

# Ends the prefix P's server and removes its private directory.
wine_end() {
    local p=$1 dir
    WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true
    [[ -f "$p/wineserver" ]] || return 0
    dir=$(<"$p/wineserver")
    [[ "$dir" =~ ^wine-[A-Za-z0-9]+$ ]] && rm -rf "${TMPDIR:-/tmp}/$dir"
    return 0
}

# Ends the servers of the prefixes (*.prefix) in the folder DIR and removes it.
wine_remove_work() {
    local p
    for p in "$1"/*.prefix; do
        if [[ -d "$p" ]]; then wine_end "$p"; fi
    done
    rm -rf "$1"
}

# Runs COMMAND ARGS with DISPLAY on an Xvfb of its own: the server picks a
# free display itself, so runs side by side (or another user's) never meet.
with_display() {
    local dfile status=0 xpid n="" i
    dfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dfile" 2>"$dfile.log" &
    xpid=$!
    for ((i = 0; i < 100; i++)); do
        n=$(head -n1 "$dfile")
        [[ -n "$n" ]] && break
        kill -0 "$xpid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ -z "$n" ]]; then
        echo "$TOOL: Xvfb did not start: $(cat "$dfile.log")" >&2
        kill "$xpid" 2>/dev/null || true
        wait "$xpid" 2>/dev/null || true
        rm -f "$dfile" "$dfile.log"
        return 2
    fi
    DISPLAY=:$n "$@" || status=$?
    kill "$xpid" 2>/dev/null || true
    wait "$xpid" 2>/dev/null || true
    rm -f "$dfile" "$dfile.log"
    return $status
}

# The command line of WINDESK.EXE running C:\MODEM\SETUP.EXE ARGS, answering
# from C:\DESK\SCRIPT, its transcript into C:\DESK\TRANSCRIPT, with SHOTS (a
# folder under C:\DESK, or empty) its pictures.
desk_command() {
    local script=$1 transcript=$2 shots=$3
    shift 3
    echo "C:\\DESK\\WINDESK.EXE --script C:\\DESK\\$script --transcript C:\\DESK\\$transcript${shots:+ --shots C:\\DESK\\$shots} -- C:\\MODEM\\SETUP.EXE $*"
}

# Runs C:\MODEM\SETUP.EXE ARGS in prefix P under WINDESK.EXE answering from
# SCRIPT, the seed imported first in the same session (HKLM\HARDWARE lasts
# only as long as the session), the transcript into OUT, Wine's output into
# OUT.log. With SHOTS (a folder name under C:\DESK) the desk keeps a picture
# of each page and box there.
wine_desk() {
    local p=$1 script=$2 out=$3 shots=$4 status=0
    shift 4
    cp "$script" "$p/drive_c/DESK/script.txt"
    rm -f "$p/drive_c/DESK/transcript.jsonl"
    WINEPREFIX=$p with_display wine_session "$p" \
        "regedit /s C:\\DESK\\seed.reg & $(desk_command script.txt transcript.jsonl "$shots" "$@")" \
        >"$out.log" 2>&1 || status=$?
    cp "$p/drive_c/DESK/transcript.jsonl" "$out" 2>/dev/null || : >"$out"
    return $status
}

# cmd /c COMMANDS in prefix P, until every process of the session has ended
# or WINE_SESSION_SECONDS (300) have passed: then the session is ended and
# the status is 124, as timeout(1) gives it.
wine_session() {
    local p=$1 status=0
    WINEPREFIX=$p timeout -k 10 "${WINE_SESSION_SECONDS:-300}" wine cmd /c "$2" || status=$?
    if ((status == 124 || status == 137)); then
        echo "$TOOL: the Wine session in $p did not end within ${WINE_SESSION_SECONDS:-300} s; ended" >&2
        WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true
        status=124
    fi
    WINEPREFIX=$p wineserver -w
    return $status
}

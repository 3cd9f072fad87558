#!/usr/bin/env bash
# Runs a wizard install and then a wizard uninstall of the package under
# Wine in Xvfb, with WINDESK.EXE saving a PNG picture of every page and box
# before it answers, into DIR/install and DIR/uninstall, with each run's
# transcript beside them. Under Wine the driver's start fails (no kernel
# driver runs there), so the install shows its failure page.
#
# Usage: scripts/screenshots.sh [--win64 DIR] [--build DIR] OUTDIR
#   --win64 DIR   the x86_64 MinGW build with SETUP.EXE and WINDESK.EXE (build-win64)
#   --build DIR   the Linux build with the staged package's INFs and images (build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
win64=$root/build-win64
build=$root/build
out=""
while (($#)); do
    case "$1" in
    --win64) win64=$(cd "$2" && pwd); shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screenshots: unknown argument $1 (see --help)" >&2; exit 2 ;;
    *) out=$1; shift ;;
    esac
done
[[ -n "$out" ]] || { echo "screenshots: name the directory for the pictures (see --help)" >&2; exit 2; }
for need in "$win64/package/SETUP.EXE" "$win64/package/setupres.dll" "$win64/tools/WINDESK.EXE" "$build/package/DRV_MEQ.INF"; do
    [[ -e "$need" ]] || { echo "screenshots: $need is missing; build first" >&2; exit 2; }
done
for tool in wine wineserver xvfb-run; do
    command -v $tool >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh --wine)" >&2; exit 2; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

prefix=$(mktemp -d /tmp/screenshots.XXXXXX)
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

wineboot -i >"$out/wineboot.log" 2>&1
wineserver -w
c=$prefix/drive_c
mkdir -p "$c/MODEM" "$c/DESK"
cp "$build/package"/DRV_MEQ.INF "$build/package"/MDMQZV.INF "$build/package"/*.SYS "$c/MODEM/"
cp "$win64/package"/SETUP.EXE "$win64/package"/setupres.dll "$c/MODEM/"
for f in nyvcpl.cpl ISDEL.EXE; do
    [[ -e "$win64/package/$f" ]] && cp "$win64/package/$f" "$c/MODEM/"
done
cp "$win64/tools/WINDESK.EXE" "$c/DESK/"
cp "$root/scripts/conformance/wine-seed.reg" "$c/DESK/seed.reg"

# Runs SETUP.EXE ARGS under the desk; pictures into OUTDIR/NAME.
run() {
    local name=$1 status=0
    shift
    cp "$c/DESK/$name.txt" "$c/DESK/script.txt"
    xvfb-run -a -s "-screen 0 1024x768x24" wine cmd /c \
        "regedit /s C:\\DESK\\seed.reg & C:\\DESK\\WINDESK.EXE --script C:\\DESK\\script.txt --transcript C:\\DESK\\$name.jsonl --shots C:\\DESK\\$name -- C:\\MODEM\\SETUP.EXE $*" \
        >"$out/$name.log" 2>&1 || status=$?
    wineserver -w
    rm -rf "${out:?}/$name"
    cp -r "$c/DESK/$name" "$out/$name" 2>/dev/null || mkdir -p "$out/$name"
    cp "$c/DESK/$name.jsonl" "$out/$name/transcript.jsonl" 2>/dev/null || true
    echo "$name: status $status, $(find "$out/$name" -name '*.png' | wc -l) pictures in $out/$name"
}

# The failure page takes Finish like the success page; the applet's lines
# are there for a machine where the driver starts.
printf '%s\n' next next '@"Country Settings" select united states' '@"Country Settings" finish' finish >"$c/DESK/install.txt"
printf '%s\n' next finish no >"$c/DESK/uninstall.txt"
run install -l
run uninstall -u -l

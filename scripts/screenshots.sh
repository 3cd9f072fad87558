#!/usr/bin/env bash
# Saves a PNG picture of every page and box the program shows under Wine
# (in Xvfb, WINDESK.EXE taking each before it answers), one folder a run
# with the run's transcript beside its pictures:
#   install            the wizard install: welcome, the driver page and the
#                      outcome's page (the failure page while no kernel
#                      driver runs under Wine)
#   already-installed  the wizard install again: the box saying the modem
#                      is installed, then the failure page
#   uninstall          the wizard uninstall: its driver page, the report page
#   no-resources       the start without setupres.dll: its one box
#   no-setup-inf       the install without the modem's setup INF
# The first three run one after the other in one prefix, the others each in
# a copy of it as it was made.
#
# Usage: scripts/screenshots.sh [--win64 DIR] [--build DIR] OUTDIR
#   --win64 DIR   the x86_64 MinGW build with SETUP.EXE and WINDESK.EXE (build-win64)
#   --build DIR   the Linux build with the staged package's INFs and images (build)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=screenshots
win64=$ROOT/build-win64
build=$ROOT/build
out=""
while (($#)); do
    case "$1" in
    --win64) win64=$(realpath -m "$2"); shift 2 ;;
    --build) build=$(realpath -m "$2"); shift 2 ;;
    -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screenshots: unknown argument $1 (see --help)" >&2; exit 2 ;;
    *) out=$1; shift ;;
    esac
done
[[ -n "$out" ]] || { echo "screenshots: name the directory for the pictures (see --help)" >&2; exit 2; }

# shellcheck source=scripts/conformance/wine.sh
source "$ROOT/scripts/conformance/wine.sh"
need_wine_tools
need_linux_build "$build"
need_win64_build "$win64"

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d /tmp/screenshots.XXXXXX)
trap 'wine_remove_work "$work"' EXIT

template=$work/template.prefix
wine_template "$template" "$build/package" "$win64/package"

# run PREFIX NAME ANSWERS... -- ARGS...: SETUP.EXE ARGS in PREFIX, pictures
# and transcript into OUTDIR/NAME.
run() {
    local p=$1 name=$2 answers=() status=0
    shift 2
    while [[ "$1" != -- ]]; do answers+=("$1"); shift; done
    shift
    printf '%s\n' "${answers[@]}" >"$work/$name.script"
    rm -rf "${out:?}/$name" "$p/drive_c/DESK/$name"
    wine_desk "$p" "$work/$name.script" "$work/$name.jsonl" "$name" "$@" || status=$?
    mkdir -p "$out/$name"
    if [[ -d "$p/drive_c/DESK/$name" ]]; then cp "$p/drive_c/DESK/$name"/*.png "$out/$name/" 2>/dev/null || true; fi
    cp "$work/$name.jsonl" "$out/$name/transcript.jsonl"
    echo "$name: status $status, $(find "$out/$name" -name '*.png' | wc -l) pictures in $out/$name"
}

# A copy of the template, named NAME.
fresh() {
    wine_copy "$template" "$work/$1.prefix"
    echo "$work/$1.prefix"
}

# The failure page takes Finish like the success page; the applet's lines
# are there for a machine where the driver starts, and the restart prompt's
# for one that asks (Wine's SetupPromptReboot does not).
p=$(fresh main)
run "$p" install next next '@"Country Settings" select united states' '@"Country Settings" finish' \
    '@"Installation Error" ok' finish -- -l
run "$p" already-installed next next '@"Installation Error" ok' cancel -- -l
run "$p" uninstall next finish '@"System Settings Change" yes' -- -u -l
p=$(fresh nores)
rm -f "$p/drive_c/MODEM/setupres.dll"
run "$p" no-resources ok -- -l
p=$(fresh noinf)
rm -f "$p/drive_c/MODEM/MDMQZV.INF"
run "$p" no-setup-inf next next '@"Files Needed" cancel' '@"Installation Error" ok' cancel -- -l

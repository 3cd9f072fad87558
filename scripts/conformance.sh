#!/usr/bin/env bash
# Runs each scenario on a fresh simulated machine and in a fresh Wine prefix
# seeded with the same package, and prints one line a scenario:
#   NAME  NTSIM-RESULT  WINE-RESULT  equal | known: REASONS | differ
# Known differences are the rows of docs/known-differences.md. Exits 1 when a
# scenario differs otherwise, 2 when it cannot run.
#
# Scenarios with boxes and pages run SETUP.EXE (the x86_64 build) under
# WINDESK.EXE in Xvfb and compare the transcripts and SETUP.TXT too.
#
# Usage: scripts/conformance.sh [--keep] [--build DIR] [--win64 DIR]
#   --build DIR   the Linux build with ntsim and the staged package (build)
#   --win64 DIR   the x86_64 MinGW build with SETUP.EXE and WINDESK.EXE (build-win64)
#   --keep        keep the machines, prefixes and normal forms (printed)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
win64=$root/build-win64
keep=0
while (($#)); do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --win64) win64=$(cd "$2" && pwd); shift 2 ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "conformance: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done

ntsim=$build/ntsim
package=$build/package
winpackage=$win64/package
windesk=$win64/tools/WINDESK.EXE
for need in "$ntsim" "$package/DRV_MEQ.INF"; do
    [[ -e "$need" ]] || { echo "conformance: $need is missing; build first (scripts/build.sh)" >&2; exit 2; }
done
for need in "$winpackage/SETUP.EXE" "$winpackage/setupres.dll" "$winpackage/QZVMDM.SYS" "$windesk"; do
    [[ -e "$need" ]] || { echo "conformance: $need is missing; build the x86_64 programs first (cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake && ninja -C build-win64)" >&2; exit 2; }
done
command -v wine >/dev/null && command -v wineserver >/dev/null ||
    { echo "conformance: wine is not installed (apt-get install wine wine64)" >&2; exit 2; }
command -v xvfb-run >/dev/null ||
    { echo "conformance: xvfb-run is not installed (apt-get install xvfb)" >&2; exit 2; }

work=$(mktemp -d /tmp/conformance.XXXXXX)
prefixes=()
cleanup() {
    local p
    for p in "${prefixes[@]}"; do
        WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true
    done
    if ((keep)); then echo "kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
normalize=$root/scripts/conformance/regnorm.py
desknorm=$root/scripts/conformance/desknorm.py
seed=$root/scripts/conformance/wine-seed.reg
known=$root/docs/known-differences.md

# A fresh machine with the package in C:\MODEM.
ntsim_machine() {
    "$ntsim" new "$1" >"$1.new.log" 2>&1
}

# A fresh prefix with the package in C:\MODEM: the Windows build's kernel
# drivers, where the machine has ntsim's driver images. Wine's output goes to
# files: its device manager holds a pipe until the server ends.
wine_prefix() {
    local p=$1
    prefixes+=("$p")
    WINEPREFIX=$p wineboot -i >"$p.boot.log" 2>&1
    WINEPREFIX=$p wineserver -w
    mkdir -p "$p/drive_c/MODEM"
    cp "$package"/DRV_MEQ.INF "$package"/MDMQZV.INF "$winpackage"/*.SYS "$p/drive_c/MODEM/"
}

wine_run() {
    local p=$1 log=$2
    shift 2
    local status=0
    WINEPREFIX=$p wine "$@" >"$log" 2>&1 || status=$?
    WINEPREFIX=$p wineserver -w
    return $status
}

# The keys a scenario compares, exported by each side into DIR/ntsim|wine-N.reg.
service_keys=(
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvmdm'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvtapi'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvfax'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\System\Qzvmdm'
)

ntsim_state() {
    local m=$1 out=$2 i=0 key
    : >"$out"
    for key in "${service_keys[@]}"; do
        if "$ntsim" reg export "$m" "$key" >"$out.$i.reg" 2>/dev/null; then
            python3 "$normalize" "$out.$i.reg" >>"$out"
        fi
        i=$((i + 1))
    done
    files_of "$m/drive_c/WINNT" "$package" >>"$out"
}

wine_state() {
    local p=$1 out=$2 i=0 key
    : >"$out"
    for key in "${service_keys[@]}"; do
        if WINEPREFIX=$p wine regedit /E "$out.$i.reg" "$key" >"$out.$i.log" 2>&1 && [[ -s "$out.$i.reg" ]]; then
            python3 "$normalize" "$out.$i.reg" >>"$out"
        fi
        i=$((i + 1))
    done
    WINEPREFIX=$p wineserver -w
    files_of "$p/drive_c/windows" "$winpackage" >>"$out"
}

# The package's files under the Windows directory DIR, by name and content.
# Each side runs its own build of the drivers, so a driver image that is
# the side's package file PACKAGE/NAME, byte for byte, reads "= package".
files_of() {
    local dir=$1 package=$2 f rel content
    for f in "$dir"/system32/drivers/QZV*.SYS "$dir"/[Ii][Nn][Ff]/MDMQZV.INF "$dir"/[Ii][Nn][Ff]/drv_meq.inf; do
        [[ -f "$f" ]] || continue
        rel=${f#"$dir"/}
        rel=${rel//\//\\}
        content=$(sha256sum <"$f" | cut -c1-16)
        if [[ $f == *.SYS ]] && cmp -s "$f" "$package/$(basename "$f")"; then
            content="= package"
        fi
        echo "FILE %SystemRoot%\\${rel^^} $content"
    done
}

# Prints equal, known: REASONS or differ (with the lines to stderr).
compare() {
    local a=$1 b=$2 name=$3
    python3 - "$a" "$b" "$known" "$name" <<'EOF'
import re, sys
a, b, known, name = sys.argv[1:]
ntsim = set(open(a).read().splitlines())
wine = set(open(b).read().splitlines())
rules = []
for line in open(known):
    cells = [c.strip() for c in re.split(r"(?<!\\)\|", line.strip().strip("|"))]
    if len(cells) == 4 and cells[0] in ("*", name) and cells[1] in ("ntsim", "wine") and cells[2].startswith("`"):
        rules.append((cells[1], re.compile(cells[2].strip("`").replace("\\|", "|")), cells[3]))
reasons, unknown = [], []
for side, lines in (("ntsim", ntsim - wine), ("wine", wine - ntsim)):
    for line in sorted(lines):
        hit = next((r for s, p, r in rules if s == side and p.search(line)), None)
        if hit is None:
            unknown.append("%s only: %s" % (side, line))
        elif hit not in reasons:
            reasons.append(hit)
for line in unknown:
    print("  %s: %s" % (name, line), file=sys.stderr)
print("differ" if unknown else ("known: " + "; ".join(reasons) if reasons else "equal"))
sys.exit(1 if unknown else 0)
EOF
}

failed=0
report() {
    local name=$1 ntsim_result=$2 wine_result=$3 verdict
    if [[ "$ntsim_result" != "$wine_result" ]]; then
        verdict="differ"
        echo "  $name: status $ntsim_result on ntsim, $wine_result on Wine" >&2
        failed=1
    fi
    if verdict2=$(compare "$work/$name.ntsim" "$work/$name.wine" "$name"); then
        verdict=${verdict:-$verdict2}
    else
        verdict=differ
        failed=1
    fi
    printf '%-28s %-8s %-8s %s\n' "$name" "$ntsim_result" "$wine_result" "$verdict"
}

hinf() {
    echo rundll32.exe setupapi.dll,InstallHinfSection "$1" 128 'C:\MODEM\DRV_MEQ.INF'
}

# rundll32's InstallHinfSection of the driver section: services, their
# parameters and event-log key, the files copied.
scenario_install() {
    local name=install-hinf m=$work/install-hinf.machine p=$work/install-hinf.prefix s=0 w=0
    ntsim_machine "$m"
    "$ntsim" run "$m" -- $(hinf TAVRELIN_DATAFAX_QZV) >"$m.run.log" 2>&1 || s=$?
    ntsim_state "$m" "$work/$name.ntsim"
    wine_prefix "$p"
    wine_run "$p" "$p.run.log" $(hinf TAVRELIN_DATAFAX_QZV) || w=$?
    wine_state "$p" "$work/$name.wine"
    report "$name" "$s" "$w"
}

# The install, then the removal section: the services deleted, the files gone.
scenario_uninstall() {
    local name=uninstall-hinf m=$work/uninstall-hinf.machine p=$work/uninstall-hinf.prefix s=0 w=0
    ntsim_machine "$m"
    "$ntsim" run "$m" -- $(hinf TAVRELIN_DATAFAX_QZV) >"$m.run.log" 2>&1 &&
        "$ntsim" run "$m" -- $(hinf TAVRELIN_DATAFAX_QZV.Uninstall) >>"$m.run.log" 2>&1 || s=$?
    ntsim_state "$m" "$work/$name.ntsim"
    wine_prefix "$p"
    wine_run "$p" "$p.run.log" $(hinf TAVRELIN_DATAFAX_QZV) &&
        wine_run "$p" "$p.run2.log" $(hinf TAVRELIN_DATAFAX_QZV.Uninstall) || w=$?
    wine_state "$p" "$work/$name.wine"
    report "$name" "$s" "$w"
}

# Desk scenarios ------------------------------------------------------------

# SETUP.EXE and its files beside the package in the prefix's C:\MODEM.
wine_program() {
    cp "$winpackage"/SETUP.EXE "$winpackage"/setupres.dll "$1/drive_c/MODEM/"
    for f in nyvcpl.cpl ISDEL.EXE; do
        [[ -e "$winpackage/$f" ]] && cp "$winpackage/$f" "$1/drive_c/MODEM/"
    done
    mkdir -p "$1/drive_c/DESK"
    cp "$windesk" "$1/drive_c/DESK/"
    cp "$seed" "$1/drive_c/DESK/seed.reg"
}

# Runs SETUP.EXE ARGS in the prefix under WINDESK.EXE answering from SCRIPT,
# the seed imported first in the same session (HKLM\HARDWARE lasts only
# as long as the session), the transcript into OUT.
wine_desk() {
    local p=$1 script=$2 out=$3 status=0
    shift 3
    cp "$script" "$p/drive_c/DESK/script.txt"
    rm -f "$p/drive_c/DESK/transcript.jsonl"
    WINEPREFIX=$p xvfb-run -a wine cmd /c "regedit /s C:\\DESK\\seed.reg & C:\\DESK\\WINDESK.EXE --script C:\\DESK\\script.txt --transcript C:\\DESK\\transcript.jsonl -- C:\\MODEM\\SETUP.EXE $*" \
        >"$out.log" 2>&1 || status=$?
    WINEPREFIX=$p wineserver -w
    cp "$p/drive_c/DESK/transcript.jsonl" "$out" 2>/dev/null || : >"$out"
    return $status
}

ntsim_desk() {
    local m=$1 script=$2 out=$3
    shift 3
    "$ntsim" run "$m" --script "$script" --transcript "$out" -- 'C:\MODEM\SETUP.EXE' "$@" >"$out.log" 2>&1
}

# Writes a script of one answer a line into DIR/NAME.script.
script_of() {
    local file=$work/$1.script
    shift
    printf '%s\n' "$@" >"$file"
    echo "$file"
}

# A desk scenario: NAME, whether the package's resources are there (res or
# nores), the script's answers, then -- and SETUP.EXE's arguments.
desk_scenario() {
    local name=$1 res=$2 s=0 w=0
    shift 2
    local answers=()
    while [[ "$1" != -- ]]; do answers+=("$1"); shift; done
    shift
    local m=$work/$name.machine p=$work/$name.prefix script
    script=$(script_of "$name" "${answers[@]}")
    ntsim_machine "$m"
    [[ $res == res ]] || rm -f "$m/drive_c/MODEM/setupres.dll"
    ntsim_desk "$m" "$script" "$work/$name.ntsim.jsonl" "$@" || s=$?
    python3 "$desknorm" "$work/$name.ntsim.jsonl" "$m/drive_c/MODEM/SETUP.TXT" >"$work/$name.ntsim"
    ntsim_state "$m" "$work/$name.ntsim.state"
    cat "$work/$name.ntsim.state" >>"$work/$name.ntsim"

    wine_prefix "$p"
    wine_program "$p"
    [[ $res == res ]] || rm -f "$p/drive_c/MODEM/setupres.dll"
    wine_desk "$p" "$script" "$work/$name.wine.jsonl" "$@" || w=$?
    python3 "$desknorm" "$work/$name.wine.jsonl" "$p/drive_c/MODEM/SETUP.TXT" >"$work/$name.wine"
    wine_state "$p" "$work/$name.wine.state"
    cat "$work/$name.wine.state" >>"$work/$name.wine"
    report "$name" "$s" "$w"
}

printf '%-28s %-8s %-8s %s\n' scenario ntsim wine result
scenario_install
scenario_uninstall
# Without setupres.dll the program refuses to start with one box.
desk_scenario startup-no-resources nores ok -- -l
# The wizard: welcome, the driver page, then the outcome's page; the applet
# opens beside it where no country is known.
desk_scenario install-wizard res next next '@"Country Settings" select united states' '@"Country Settings" finish' finish -- -l
desk_scenario install-silent res -- -s -h=us -l
exit $failed

#!/usr/bin/env bash
# Runs each scenario on a fresh simulated machine and in a fresh Wine prefix
# seeded with the same package, and prints one line a scenario:
#   NAME  NTSIM-STATUS  WINE-STATUS  equal | known: REASONS | differ
# (a scenario of several runs gives their statuses joined by +), then the
# whole run's time. Known differences are the rows of
# docs/known-differences.md. Exits 1 when a scenario differs otherwise, 2
# when it cannot run.
#
# Each run of SETUP.EXE (the x86_64 build under Wine) is answered by a
# script desk (WINDESK.EXE in an Xvfb of its own under Wine); the
# transcripts, SETUP.TXT, the registry under the services' keys and the
# package's files are compared. Wine's prefixes are copies of one prefix
# made once a run. What is missing (Wine, Xvfb, MinGW, the builds) is
# installed or built first.
#
# Usage: scripts/conformance.sh [--keep] [--jobs N] [--build DIR] [--win64 DIR] [SCENARIO...]
#   --build DIR   the Linux build with ntsim and the staged package (build;
#                 a sanitizer build such as build-sanitize works too)
#   --win64 DIR   the x86_64 MinGW build with SETUP.EXE and WINDESK.EXE (build-win64)
#   --jobs N      scenarios run side by side (2)
#   --keep        keep the machines, prefixes and normal forms (printed)
#   SCENARIO      run only these (all by default; --list names them)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=conformance
build=$ROOT/build
win64=$ROOT/build-win64
keep=0
jobs=2
only=()
list=0
while (($#)); do
    case "$1" in
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --win64) win64=$(realpath -m "$2"); shift 2 ;;
    --jobs) [[ "$2" =~ ^[1-9][0-9]*$ ]] || { echo "conformance: --jobs takes a number of 1 or more" >&2; exit 2; }
        jobs=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --list) list=1; shift ;;
    -h | --help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "conformance: unknown argument $1 (see --help)" >&2; exit 2 ;;
    *) only+=("$1"); shift ;;
    esac
done

# The scenarios, in the order they are printed: NAME and the function whose
# runs make it (each run happens on both sides).
scenarios=(
    install-hinf:hinf_install
    uninstall-hinf:hinf_uninstall
    startup-no-resources:startup_no_resources
    install-wizard:install_wizard
    install-silent:install_silent
    uninstall-wizard:uninstall_wizard
    uninstall-silent:uninstall_silent
    driver-model:driver_model
    already-installed:already_installed
    no-setup-inf:no_setup_inf
    services-no-field2:services_no_field2
)
if ((list)); then
    printf '%s\n' "${scenarios[@]%%:*}"
    exit 0
fi
for name in "${only[@]}"; do
    printf '%s\n' "${scenarios[@]%%:*}" | grep -qxF -- "$name" ||
        { echo "conformance: no scenario $name (see --list)" >&2; exit 2; }
done

# shellcheck source=scripts/conformance/wine.sh
source "$ROOT/scripts/conformance/wine.sh"
need_wine_tools
need_linux_build "$build"
need_win64_build "$win64"

ntsim=$build/ntsim
package=$build/package
normalize=$ROOT/scripts/conformance/regnorm.py
desknorm=$ROOT/scripts/conformance/desknorm.py
known=$ROOT/docs/known-differences.md
started=$SECONDS

work=$(mktemp -d /tmp/conformance.XXXXXX)
template=$work/template.prefix
workers=()
cleanup() {
    local pid p
    for pid in "${workers[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    for p in "$work"/*.prefix; do
        if [[ -d "$p" ]]; then wine_end "$p"; fi
    done
    if ((keep)); then echo "kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# The template is booted once, beside the first scenarios' simulated runs;
# a prefix waits for it.
(
    if wine_template "$template" "$package" "$win64/package"; then
        touch "$template.ready"
    else
        touch "$template.failed"
    fi
) &
workers+=($!)

wait_template() {
    while [[ ! -e "$template.ready" ]]; do
        [[ -e "$template.failed" ]] && { echo "conformance: the Wine prefix could not be made (see $template.boot.log)" >&2; return 2; }
        sleep 0.2
    done
}

# The keys a scenario compares, exported by each side into DIR/ntsim|wine-N.reg.
service_keys=(
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvmdm'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvtapi'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Qzvfax'
    'HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\System\Qzvmdm'
    'HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM'
)

# The services whose state (sc query) a scenario compares.
services=(Qzvmdm Qzvtapi Qzvfax)

ntsim_state() {
    local m=$1 out=$2 i=0 key service
    : >"$out"
    for key in "${service_keys[@]}"; do
        if "$ntsim" reg export "$m" "$key" >"$out.$i.reg" 2>/dev/null; then
            python3 "$normalize" "$out.$i.reg" >>"$out"
        fi
        i=$((i + 1))
    done
    for service in "${services[@]}"; do
        service_state "$service" <<<"$("$ntsim" sc "$m" query "$service" 2>&1 || true)" >>"$out"
    done
    files_of "$m/drive_c/WINNT" "$package" >>"$out"
    modem_files "$m/drive_c/MODEM" >>"$out"
}

# SERVICE NAME STATE N from sc query's output on standard input, or
# SERVICE NAME none when it names no state (no such service).
service_state() {
    local state
    state=$(grep -oE 'STATE +: +[0-9]+' | grep -oE '[0-9]+$' || true)
    echo "SERVICE $1 STATE ${state:-none}"
}

# The names in C:\MODEM (each side's program and drivers are its own build,
# so names only).
modem_files() {
    local f
    for f in "$1"/*; do
        if [[ -f "$f" ]]; then echo "MODEM FILE $(basename "$f" | tr '[:lower:]' '[:upper:]')"; fi
    done
}

# The state a Wine side's session exported (see wine_side) into OUT.
wine_state() {
    local p=$1 out=$2 i
    : >"$out"
    for i in "${!service_keys[@]}"; do
        if [[ -s "$p/drive_c/DESK/state$i.reg" ]]; then
            cp "$p/drive_c/DESK/state$i.reg" "$out.$i.reg"
            python3 "$normalize" "$out.$i.reg" >>"$out"
        fi
    done
    for i in "${!services[@]}"; do
        if [[ -f "$p/drive_c/DESK/service$i.txt" ]]; then
            service_state "${services[$i]}" <"$p/drive_c/DESK/service$i.txt" >>"$out"
        else
            echo "SERVICE ${services[$i]} STATE unread" >>"$out"
        fi
    done
    files_of "$p/drive_c/windows" "$win64/package" >>"$out"
    modem_files "$p/drive_c/MODEM" >>"$out"
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


# Runs on one side --------------------------------------------------------
# A scenario's function makes its runs with `setup` and `hinf`; they act on
# the side being run: side (ntsim or wine), home (the machine or prefix) and
# modem (its C:\MODEM) are set for them, and each run's status joins runs.

# setup ANSWERS... -- ARGS...: SETUP.EXE ARGS, its boxes and pages answered
# from ANSWERS; its transcript is kept apart per run (SETUP.TXT grows).
setup() {
    local answers=() s=0
    while [[ "$1" != -- ]]; do answers+=("$1"); shift; done
    shift
    step=$((step + 1))
    local at=$work/$name.$side.$step script=$work/$name.$step.script
    printf '%s\n' "${answers[@]}" >"$script"
    if [[ $side == ntsim ]]; then
        "$ntsim" run "$home" --script "$script" --transcript "$at.jsonl" -- 'C:\MODEM\SETUP.EXE' "$@" >"$at.log" 2>&1 || s=$?
        runs+=("$s")
    else
        cp "$script" "$home/drive_c/DESK/$step.script"
        wine_step "$(desk_command "$step.script" "$step.jsonl" "" "$@")"
    fi
}

# hinf SECTION: rundll32's InstallHinfSection of SECTION in C:\MODEM\DRV_MEQ.INF.
hinf() {
    local s=0 command=(rundll32.exe setupapi.dll,InstallHinfSection "$1" 128 'C:\MODEM\DRV_MEQ.INF')
    step=$((step + 1))
    if [[ $side == ntsim ]]; then
        "$ntsim" run "$home" -- "${command[@]}" >"$work/$name.$side.$step.log" 2>&1 || s=$?
        runs+=("$s")
    else
        wine_step "${command[*]}"
    fi
}

# A Wine side's runs are the lines of one batch file, run in one session
# at the end, as the simulated machine runs them one after the other
# without a restart: a driver started by one run is running for the next.
# Each run's status is kept in C:\DESK\STEP.status.
wine_step() {
    printf '%s\r\necho %%ERRORLEVEL%% >C:\\DESK\\%s.status\r\n' "$1" "$step" >>"$home/drive_c/DESK/run.bat"
}

# Runs the batch the scenario made in prefix P: the seed first (HKLM\HARDWARE
# lasts only as long as the session), the state's exports last.
wine_side() {
    local p=$1 out=$2 i n
    {
        printf 'regedit /s C:\\DESK\\seed.reg\r\n'
        cat "$p/drive_c/DESK/run.bat"
        for i in "${!service_keys[@]}"; do
            printf 'regedit /E C:\\DESK\\state%s.reg %s\r\n' "$i" "${service_keys[$i]}"
        done
        for i in "${!services[@]}"; do
            printf 'sc query %s >C:\\DESK\\service%s.txt\r\n' "${services[$i]}" "$i"
        done
    } >"$p/drive_c/DESK/session.bat"
    WINEPREFIX=$p with_display wine_session "$p" 'C:\DESK\session.bat' >"$out.session.log" 2>&1 || true
    for ((n = 1; n <= step; n++)); do
        if [[ -f "$p/drive_c/DESK/$n.jsonl" ]]; then cp "$p/drive_c/DESK/$n.jsonl" "$out.$n.jsonl"; fi
        runs+=("$(tr -dc '0-9' <"$p/drive_c/DESK/$n.status" 2>/dev/null || echo none)")
    done
}

# One side of scenario NAME made by MAKE, into its normal form
# WORK/NAME.SIDE: what was shown and logged, the registry and the files.
scenario_side() {
    local make=$1 out=$work/$name.$side f attempt
    order=""
    if [[ $side == ntsim ]]; then
        runs=()
        step=0
        home=$work/$name.machine
        "$ntsim" new "$home" >"$home.new.log" 2>&1
        modem=$home/drive_c/MODEM
        "$make"
    else
        home=$work/$name.prefix
        modem=$home/drive_c/MODEM
        wait_template
        # SETUP.EXE always ends with 0; 2 is the desk's own failure to start it
        # or to write its transcript, and 9009 is cmd's word for a program it
        # did not find though the copy holds it: Wine's or the host's moment,
        # not the program's, so the side is run once more on a fresh copy.
        for attempt in 1 2; do
            runs=()
            step=0
            wine_copy "$template" "$home"
            : >"$home/drive_c/DESK/run.bat"
            "$make"
            wine_side "$home" "$out"
            [[ $attempt == 1 && (" ${runs[*]} " == *" 2 "* || " ${runs[*]} " == *" 9009 "*) ]] || break
            echo "conformance: $name: the desk could not run SETUP.EXE under Wine (statuses ${runs[*]}); once more" >&3
            cp "$out.session.log" "$out.first-session.log" 2>/dev/null || true
            wine_end "$home"
            rm -rf "$home" "$out".[0-9]*.jsonl
        done
    fi
    : >"$out.jsonl"
    for f in "$out".[0-9]*.jsonl; do
        if [[ -f "$f" ]]; then cat "$f" >>"$out.jsonl"; fi
    done
    python3 "$desknorm" ${order:+--order "$order"} "$out.jsonl" "$modem/SETUP.TXT" >"$out"
    if [[ $side == ntsim ]]; then ntsim_state "$home" "$out.state"; else wine_state "$home" "$out.state"; fi
    cat "$out.state" >>"$out"
    (IFS=+; echo "${runs[*]}") >"$out.status"
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
    if len(cells) == 4 and (cells[0] == "*" or name in re.split(r",\s*", cells[0])) and cells[1] in ("ntsim", "wine") and cells[2].startswith("`"):
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

# Scenario NAME made by MAKE on both sides; prints its row and writes
# WORK/NAME.rc, 1 when the sides differ otherwise than known (no rc: the
# scenario could not run).
run_scenario() {
    name=$1
    local make=$2 t0=$SECONDS s w verdict="" rc=0
    for side in ntsim wine; do
        scenario_side "$make"
    done
    s=$(<"$work/$name.ntsim.status")
    w=$(<"$work/$name.wine.status")
    if [[ "$s" != "$w" ]]; then
        verdict=differ
        echo "  $name: status $s on ntsim, $w on Wine" >&2
        rc=1
    fi
    if verdict2=$(compare "$work/$name.ntsim" "$work/$name.wine" "$name"); then
        verdict=${verdict:-$verdict2}
    else
        verdict=differ
        rc=1
    fi
    printf '%-22s %-8s %-8s %s\n' "$name" "$s" "$w" "$verdict"
    if ((!keep)); then
        wine_end "$home"
        rm -rf "$home"
    fi
    echo $rc >"$work/$name.rc"
    echo "conformance: $name done in $((SECONDS - t0)) s" >&3
}

# The scenarios --------------------------------------------------------------

# rundll32's InstallHinfSection of the driver section: services, their
# parameters and event-log key, the files copied.
hinf_install() { hinf TAVRELIN_DATAFAX_QZV; }

# The install, then the removal section: the services deleted, the files gone.
hinf_uninstall() {
    hinf TAVRELIN_DATAFAX_QZV
    hinf TAVRELIN_DATAFAX_QZV.Uninstall
}

# Without setupres.dll the program refuses to start with one box.
startup_no_resources() {
    rm -f "$modem/setupres.dll"
    setup ok -- -l
}

# The wizard: welcome, the driver page, then the outcome's page; the applet
# opens beside it where no country is known. Where the modem device cannot
# be installed a box says so before the failure page.
install_wizard() {
    setup next next '@"Country Settings" select united states' '@"Country Settings" finish' \
        '@"Installation Error" ok' finish -- -l
}

install_silent() { setup -- -s -h=us -l; }

# A silent install, then the wizard's uninstall: its page, the report page
# and the restart prompt.
uninstall_wizard() {
    setup -- -s -h=us -l
    setup next finish '@"System Settings Change" yes' -- -u -l
}

uninstall_silent() {
    setup -- -s -h=us -l
    setup -- -u -s -l
}

# The first driver's install, start, stop and removal as the log tells them
# (with the service opens and state queries between), in their order.
driver_model() {
    order='^(open_service|GetInfo|Install|Start|Stop|Uninstall) '
    setup -- -s -h=us -l
    setup -- -u -s -l
}

# The wizard on a machine where the modem is installed: the box saying so,
# then the failure page.
already_installed() {
    setup -- -s -h=us -l
    setup next next '@"Installation Error" ok' cancel -- -l
}

# The modem's setup INF missing from the package.
no_setup_inf() {
    rm -f "$modem/MDMQZV.INF"
    setup next next '@"Files Needed" cancel' '@"Installation Error" ok' cancel -- -l
}

# The copy of the setup INF with a services section whose third line has no
# second field: the further services end before it.
services_no_field2() {
    python3 - "$modem" <<'PY'
import sys
modem = sys.argv[1]
path = modem + "/DRV_MEQ.INF"
inf = open(path, "rb").read().decode("cp1252")
for old, new in (("drv_meq.inf, DRV_MEQ.INF", "drv_meq.inf, SERVICES.INF"),
                 ("DRV_MEQ.INF = 1", "DRV_MEQ.INF = 1\r\nSERVICES.INF = 1")):
    if old not in inf:
        sys.exit("services-no-field2: %s is not in DRV_MEQ.INF" % old)
    inf = inf.replace(old, new, 1)
open(path, "wb").write(inf.encode("cp1252"))
open(modem + "/SERVICES.INF", "wb").write(
    b"[Version]\r\nSignature = \"$Windows NT$\"\r\n\r\n[TAVRELIN_DATAFAX_QZV.Services]\r\n"
    b"AddService = Qzvmdm, 0x00000002, Qzvmdm.Service\r\nAddService = Qzvtapi, 0\r\n"
    b"AddService = Qzvnone\r\nAddService = Qzvfax, 0\r\n")
PY
    setup -- -s -h=us -l
}

# Two at a time (--jobs), printed in order when all are done.
exec 3>&2
pids=()
running=()
for entry in "${scenarios[@]}"; do
    name=${entry%%:*}
    if ((${#only[@]})) && ! printf '%s\n' "${only[@]}" | grep -qxF -- "$name"; then
        continue
    fi
    (run_scenario "$name" "${entry#*:}") >"$work/$name.row" 2>"$work/$name.err" &
    pids+=($!)
    workers+=($!)
    running+=($!)
    while ((${#running[@]} >= jobs)); do
        wait -n "${running[@]}" || true
        alive=()
        for pid in "${running[@]}"; do
            if kill -0 "$pid" 2>/dev/null; then alive+=("$pid"); fi
        done
        running=("${alive[@]}")
    done
done
for pid in "${pids[@]}"; do
    wait "$pid" || true
done

failed=0
printf '%-22s %-8s %-8s %s\n' scenario ntsim wine result
for entry in "${scenarios[@]}"; do
    name=${entry%%:*}
    [[ -e "$work/$name.row" ]] || continue
    if [[ -s "$work/$name.row" && -e "$work/$name.rc" ]]; then
        cat "$work/$name.row"
        [[ $(<"$work/$name.rc") == 0 ]] || failed=1
    else
        printf '%-22s %-8s %-8s %s\n' "$name" - - "could not run (see below)"
        failed=2
    fi
    cat "$work/$name.err" >&2
done
echo "conformance: ${#pids[@]} scenarios in $((SECONDS - started)) s"
exit $failed

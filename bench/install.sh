#!/usr/bin/env bash
# The silent install and uninstall on ntsim and under Wine, side by side,
# in one run:
#
#   - SETUP.EXE -s -h=us -l, then SETUP.EXE -u -s -l on the same machine:
#     on ntsim, a fresh machine each round (`ntsim new`, not timed); under
#     wine64, the x86_64 build in a fresh copy of one booted prefix each
#     round, its wineserver started, warmed and seeded first (not timed).
#     Rounds of the two sides alternate, so that both meet the same load;
#     medians of RUNS rounds (7), in milliseconds, and Wine's time over ntsim's.
#   - the system calls of a silent install on a fresh machine (strace -c -f);
#   - the in-process registry calls (Google Benchmark, as bench/registry.sh).
#
# Under Wine the install stops at the modem device: Wine's
# SetupDiBuildDriverInfoList lists no class drivers, so it does less than
# the simulated machine does (the drivers are installed and started on
# both sides).
#
#   bench/install.sh [BUILD_DIR [WIN64_DIR]]   build and build-win64 by default
#   RUNS=N rounds; NO_WINE=1 skips the Wine side
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL=bench
build=$(realpath -m "${1:-$ROOT/build}")
win64=$(realpath -m "${2:-$ROOT/build-win64}")
runs=${RUNS:-7}
ntsim=$build/ntsim
work=$(mktemp -d /tmp/ntsim-install-bench-XXXXXX)
trap 'wine_remove_work "$work"' EXIT

# shellcheck source=scripts/conformance/wine.sh
source "$ROOT/scripts/conformance/wine.sh"
# shellcheck source=bench/figures.sh
source "$ROOT/bench/figures.sh"
need_linux_build "$build"

now_ns() { date +%s%N; }
median_ms() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.1f", a / b }'; }
sum() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.1f", a + b }'; }

# Runs a command once and appends its wall time (ns) to a file.
timed() {
    local out=$1 start
    shift
    start=$(now_ns)
    "$@" >/dev/null 2>&1 || true
    echo $(($(now_ns) - start)) >>"$out"
}

install_args=('C:\MODEM\SETUP.EXE' -s -h=us -l)
uninstall_args=('C:\MODEM\SETUP.EXE' -u -s -l)

# One round on ntsim: a fresh machine, then the two timed runs.
ntsim_round() {
    local m=$work/machine
    "$ntsim" new "$m" >/dev/null
    sync
    timed "$work/ntsim.install" "$ntsim" run "$m" -- "${install_args[@]}"
    timed "$work/ntsim.uninstall" "$ntsim" run "$m" -- "${uninstall_args[@]}"
    rm -rf "$m"
}

# One round under Wine in a fresh copy of the booted prefix: its server
# started and kept (warm), the seed imported in its session, then the two
# timed runs.
wine_round() {
    local p=$work/round.prefix
    wine_copy "$work/template.prefix" "$p"
    WINEPREFIX=$p wineserver -p
    WINEPREFIX=$p wine regedit /s 'C:\DESK\seed.reg' >/dev/null 2>&1
    WINEPREFIX=$p wine cmd /c exit >/dev/null 2>&1
    sync
    timed "$work/wine.install" env WINEPREFIX="$p" wine "${install_args[@]}"
    timed "$work/wine.uninstall" env WINEPREFIX="$p" wine "${uninstall_args[@]}"
    cp "$p/drive_c/MODEM/SETUP.TXT" "$work/wine.SETUP.TXT" 2>/dev/null || true
    wine_end "$p"
    rm -rf "$p"
}

# The rounds of both sides alternate, so that both meet the same load of
# a shared machine.
rounds() {
    local i
    for ((i = 0; i < runs; i++)); do
        ntsim_round
        if ((with_wine)); then wine_round; fi
    done
}

with_wine=1
if [[ -n "${NO_WINE:-}" ]]; then
    with_wine=0
else
    need_wine_tools
    need_win64_build "$win64"
fi
: >"$work/ntsim.install"
: >"$work/ntsim.uninstall"
: >"$work/wine.install"
: >"$work/wine.uninstall"

echo "== silent install and uninstall: median of $runs rounds, each on a fresh machine or prefix"
wine_install=- wine_uninstall=-
if ((with_wine)); then
    wine_template "$work/template.prefix" "$build/package" "$win64/package"
    with_display rounds
    wine_install=$(median_ms "$work/wine.install")
    wine_uninstall=$(median_ms "$work/wine.uninstall")
else
    rounds
fi
n_install=$(median_ms "$work/ntsim.install")
n_uninstall=$(median_ms "$work/ntsim.uninstall")
printf '%-28s %10s %10s %10s\n' "" "ntsim ms" "wine ms" "wine/ntsim"
printf '%-28s %10s %10s %10s\n' "install   -s -h=us -l" "$n_install" "$wine_install" "$(ratio "$wine_install" "$n_install")"
printf '%-28s %10s %10s %10s\n' "uninstall -u -s -l" "$n_uninstall" "$wine_uninstall" "$(ratio "$wine_uninstall" "$n_uninstall")"
n_both=$(sum "$n_install" "$n_uninstall")
w_both=$(sum "$wine_install" "$wine_uninstall")
printf '%-28s %10s %10s %10s\n' "both" "$n_both" "$w_both" "$(ratio "$w_both" "$n_both")"
if ((with_wine)); then
    echo "(under Wine the install stops at the modem device, whose class drivers Wine's SetupDi cannot list;"
    echo " its log's last lines after the uninstall: $(tail -n 2 "$work/wine.SETUP.TXT" 2>/dev/null | tr -d '\r' | paste -sd '|' -))"
fi

echo
echo "== system calls of a silent install on a fresh machine (strace -c -f, every process)"
if command -v strace >/dev/null; then
    "$ntsim" new "$work/traced" >/dev/null
    strace -c -f -o "$work/strace.txt" "$ntsim" run "$work/traced" -- "${install_args[@]}" >/dev/null 2>&1 || true
    # The total, then the calls made most often.
    grep -E ' total$' "$work/strace.txt" | awk '{ print "total:", $4 }'
    grep -vE ' total$|^-|^%|^$' "$work/strace.txt" | awk '{ print $4, $NF }' | sort -rn | head -8 |
        awk '{ printf "  %-16s %6d\n", $2, $1 }'
else
    echo "(strace is not installed)"
fi

echo
registry_figures "$build"

#!/usr/bin/env bash
# Figures for the machine's registry and installer, printed as tables:
# each command's wall time (median of RUNS), peak memory and instructions
# (callgrind, one run, every process of the command counted) on a default
# machine and on one with 100,000 extra keys under HKLM\SOFTWARE, run
# alternately, with the big:default ratios; the import of 10k and 100k keys;
# CopyFiles of 1k and 8k files; the in-process registry calls of
# build/lib/bench/modem_bench.
#
#   bench/registry.sh [BUILD_DIR]     RUNS=10 by default; NO_CALLGRIND=1 skips the instruction counts
set -euo pipefail
# shellcheck source=bench/figures.sh
source "$(dirname "$0")/figures.sh"

build=$(cd "${1:-build}" && pwd)
ntsim=$build/ntsim
runs=${RUNS:-10}
work=$(mktemp -d /tmp/ntsim-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

[[ -x $ntsim ]] || { echo "no $ntsim: build first" >&2; exit 2; }

# A REGEDIT4 file of n keys below HKLM\SOFTWARE\Bench, a value each.
make_keys() {
    local n=$1 file=$2
    awk -v n="$n" 'BEGIN {
        print "REGEDIT4\n"
        for (i = 0; i < n; i++) {
            printf "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Group%04d\\Key%06d]\n", i % 1000, i
            printf "\"Value\"=\"%0100d\"\n\n", i
        }
    }' > "$file"
}

# An INF whose section copies n files from C:\SRC to C:\DEST.
make_copy_inf() {
    local n=$1 machine=$2
    mkdir -p "$machine/drive_c/SRC"
    {
        printf '[Version]\r\nSignature="$Windows NT$"\r\n[DestinationDirs]\r\nFiles.Copy = -1, C:\\DEST\r\n'
        printf '[Inst]\r\nCopyFiles = Files.Copy\r\n[SourceDisksNames]\r\n1 = "Disk",,,\r\n[SourceDisksFiles]\r\n'
        for ((i = 0; i < n; i++)); do printf 'f%05d.txt = 1\r\n' "$i"; done
        printf '[Files.Copy]\r\n'
        for ((i = 0; i < n; i++)); do printf 'f%05d.txt\r\n' "$i"; done
    } > "$machine/drive_c/SRC/COPY.INF"
    for ((i = 0; i < n; i++)); do printf 'file %d\n' "$i" > "$machine/drive_c/SRC/$(printf 'f%05d.txt' "$i")"; done
}

now_ns() { date +%s%N; }

# Runs a command once; appends its wall time (ms) and peak memory (KB).
measure() {
    local times=$1 peaks=$2
    shift 2
    local start end
    start=$(now_ns)
    /usr/bin/time -o "$work/rss" -f %M "$@" > /dev/null 2>&1 || true
    end=$(now_ns)
    echo $(((end - start) / 1000)) >> "$times"
    cat "$work/rss" >> "$peaks"
}

median_ms() { sort -n "$1" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000 }'; }
peak_kb() { sort -n "$1" | tail -1; }

# Instructions of one run, summed over every process the command starts.
instructions() {
    if [[ -n "${NO_CALLGRIND:-}" ]] || ! command -v valgrind > /dev/null; then
        echo "-"
        return
    fi
    rm -f "$work"/cg.*
    valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$work/cg.%p" "$@" > /dev/null 2>&1 || true
    cat "$work"/cg.* 2> /dev/null | awk '/^summary:/ { s += $2 } END { print s + 0 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }

echo "== machines"
default=$work/default
big=$work/big
"$ntsim" new "$default" > /dev/null
"$ntsim" new "$big" > /dev/null
make_keys 100000 "$work/keys100k.reg"
start=$(now_ns)
"$ntsim" reg import "$big" "$work/keys100k.reg"
echo "big machine: 100,000 keys imported in $((($(now_ns) - start) / 1000000)) ms;" \
    "registry $(du -k "$default/registry" | cut -f1) KB default, $(du -k "$big/registry" | cut -f1) KB big"
for m in "$default" "$big"; do
    # The package's driver, installed once, for sc start and stop.
    "$ntsim" run "$m" -- rundll32.exe setupapi.dll,InstallHinfSection TAVRELIN_DATAFAX_QZV 128 'C:\MODEM\DRV_MEQ.INF' > /dev/null
done

inf_install() { "$ntsim" run "$1" -- rundll32.exe setupapi.dll,InstallHinfSection TAVRELIN_DATAFAX_QZV 128 'C:\MODEM\DRV_MEQ.INF'; }
# Start-up to the wizard's first page, which the script cancels.
startup() { "$ntsim" run "$1" --script "$work/cancel.script" -- 'C:\MODEM\SETUP.EXE'; }
silent_install() { "$ntsim" run "$1" -- 'C:\MODEM\SETUP.EXE' -s -h=us; }
silent_uninstall() { "$ntsim" run "$1" -- 'C:\MODEM\SETUP.EXE' -s -u; }
sc_start_stop() { "$ntsim" sc "$1" start Qzvmdm && "$ntsim" sc "$1" stop Qzvmdm; }
export_system() { "$ntsim" reg export "$1" 'HKLM\SYSTEM'; }
export -f inf_install startup silent_install silent_uninstall sc_start_stop export_system

# The install and the uninstall change their machine: each run gets fresh
# copies (the uninstall's with the package installed), made outside the
# measurement.
prepare() {
    d_machine=$default
    b_machine=$big
    case "$1" in
    silent_install | silent_uninstall)
        rm -rf "$work/dcopy" "$work/bcopy"
        cp -a "$default" "$work/dcopy"
        cp -a "$big" "$work/bcopy"
        d_machine=$work/dcopy
        b_machine=$work/bcopy
        if [[ "$1" == silent_uninstall ]]; then
            silent_install "$d_machine" >/dev/null 2>&1
            silent_install "$b_machine" >/dev/null 2>&1
        fi
        # The copies' writes reach the disk before the clock starts.
        sync
        ;;
    esac
}
export ntsim work
echo cancel > "$work/cancel.script"

echo
echo "== per command: median of $runs runs, default and big machine alternately"
printf '%-26s %10s %10s %6s %10s %10s %14s %14s %6s\n' command "default ms" "big ms" ratio "def KB" "big KB" "default Ir" "big Ir" ratio
new_times=$work/new.t
new_peaks=$work/new.p
: > "$new_times"
: > "$new_peaks"
for ((i = 0; i < runs; i++)); do
    measure "$new_times" "$new_peaks" "$ntsim" new "$work/fresh$i"
    rm -rf "$work/fresh$i"
done
new_ir=$(instructions "$ntsim" new "$work/fresh-cg")
rm -rf "$work/fresh-cg"
printf '%-26s %10s %10s %6s %10s %10s %14s %14s %6s\n' "ntsim new" "$(median_ms "$new_times")" - - \
    "$(peak_kb "$new_peaks")" - "$new_ir" - -
for command in startup inf_install sc_start_stop export_system silent_install silent_uninstall; do
    : > "$work/d.t"
    : > "$work/d.p"
    : > "$work/b.t"
    : > "$work/b.p"
    for ((i = 0; i < runs; i++)); do
        prepare "$command"
        measure "$work/d.t" "$work/d.p" bash -c "$command \"\$0\"" "$d_machine"
        measure "$work/b.t" "$work/b.p" bash -c "$command \"\$0\"" "$b_machine"
    done
    d_ms=$(median_ms "$work/d.t")
    b_ms=$(median_ms "$work/b.t")
    prepare "$command"
    d_ir=$(instructions bash -c "$command \"\$0\"" "$d_machine")
    prepare "$command"
    b_ir=$(instructions bash -c "$command \"\$0\"" "$b_machine")
    printf '%-26s %10s %10s %6s %10s %10s %14s %14s %6s\n' "$command" "$d_ms" "$b_ms" "$(ratio "$b_ms" "$d_ms")" \
        "$(peak_kb "$work/d.p")" "$(peak_kb "$work/b.p")" "$d_ir" "$b_ir" "$(ratio "$b_ir" "$d_ir")"
done

echo
echo "== reg import"
for n in 10000 100000; do
    make_keys "$n" "$work/keys.reg"
    "$ntsim" new "$work/import$n" > /dev/null
    : > "$work/i.t"
    : > "$work/i.p"
    measure "$work/i.t" "$work/i.p" "$ntsim" reg import "$work/import$n" "$work/keys.reg"
    printf 'import of %6d keys: %10s ms %10s KB peak\n' "$n" "$(median_ms "$work/i.t")" "$(peak_kb "$work/i.p")"
    rm -rf "$work/import$n"
done

echo
echo "== CopyFiles through rundll32's InstallHinfSection"
for n in 1000 8000; do
    m=$work/copy$n
    "$ntsim" new "$m" > /dev/null
    make_copy_inf "$n" "$m"
    : > "$work/c.t"
    : > "$work/c.p"
    measure "$work/c.t" "$work/c.p" "$ntsim" run "$m" -- rundll32.exe setupapi.dll,InstallHinfSection Inst 128 'C:\SRC\COPY.INF'
    copied=$(find "$m/drive_c/DEST" -type f 2> /dev/null | wc -l)
    printf 'CopyFiles of %5d files: %10s ms %10s KB peak (%d copied)\n' "$n" "$(median_ms "$work/c.t")" \
        "$(peak_kb "$work/c.p")" "$copied"
    rm -rf "$m"
done

echo
registry_figures "$build"

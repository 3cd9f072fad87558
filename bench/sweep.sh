#!/usr/bin/env bash
# Every call site failed in turn: ntsim sweep over the silent install, the
# silent uninstall and the wizard install, each with its recovery, on fresh
# machines; prints each sweep's one-line summary and its time, and keeps
# the JSON reports.
#
#   bench/sweep.sh [BUILD_DIR] [REPORT_DIR]
#     EVERY=K   fail only every k-th site (CI samples with it)
#     JOBS=N    sites side by side (default: one per core)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
reports=${2:-$(mktemp -d /tmp/ntsim-sweeps-XXXXXX)}
ntsim=$build/ntsim
every=${EVERY:-1}
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d /tmp/ntsim-sweep-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
[[ -x $ntsim ]] || { echo "no $ntsim: build first" >&2; exit 2; }
mkdir -p "$reports"

setup='C:\MODEM\SETUP.EXE'
printf 'next\nfinish\n@"System Settings Change" no\n' > "$work/uninstall.txt"
printf '%s\n' next next '@"Country Settings" select united states' '@"Country Settings" finish' finish \
    > "$work/install.txt"
# What a person does after a failed install: the wizard uninstall, the
# package (and ISDEL.EXE, which the uninstall takes with it) put back, the
# install again.
uninstall_again=("--recover" "run --script $work/uninstall.txt -- $setup -u -l")
put_back=("--recover" "put" "--recover" "put $build/windows --to C:\\WINNT")

status=0
sweep() {
    local name=$1 machine=$2
    shift 2
    local start=$SECONDS
    echo "== $name"
    "$ntsim" sweep "$machine" --every "$every" --jobs "$jobs" --log 'C:\MODEM\SETUP.TXT' \
        --report "$reports/$name.json" --work "$work/$name" "$@" 2> "$work/$name.progress" \
        | grep -E '^(clean run|sweep:)' || status=1
    echo "   $((SECONDS - start)) s"
}

"$ntsim" new "$work/fresh" > /dev/null
sweep silent-install "$work/fresh" "${uninstall_again[@]}" "${put_back[@]}" \
    --recover "run -- $setup -s -h=us -l" -- "$setup" -s -h=us -l

"$ntsim" new "$work/installed" > /dev/null
"$ntsim" run "$work/installed" -- "$setup" -s -h=us -l > /dev/null
# After a failed uninstall, the uninstall again.
sweep silent-uninstall "$work/installed" --recover "run -- $setup -u -s -l" -- "$setup" -u -s -l

sweep wizard-install "$work/fresh" --script "$work/install.txt" "${uninstall_again[@]}" "${put_back[@]}" \
    --recover "run --script $work/install.txt -- $setup -l" -- "$setup" -l

echo "reports: $reports"
exit $status

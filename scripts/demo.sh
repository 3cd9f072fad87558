#!/usr/bin/env bash
# The main job: a fresh simulated NT 4.0 machine with the sample package,
# and the setup program's install wizard started in it. Its pages and boxes
# appear on this terminal; afterwards the demo prints what the run changed:
# a short summary, then the details, then the log lines the run added.
# Extra arguments go to SETUP.EXE (default: -l). DEMO_MACHINE=DIR runs on
# the machine in DIR (the uninstall: DEMO_MACHINE=DIR scripts/demo.sh -u -l).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Build tools: scripts/install-deps.sh installs with apt-get whatever is missing"
echo "   (CMake, Ninja, g++, GoogleTest, MinGW-w64, ncurses, SQLite, ccache and the like)."
scripts/install-deps.sh
if [[ ! -f build/build.ninja ]]; then
    echo "== First build of ntsim, SETUP.EXE and the sample package into build/:"
    echo "   about 5 minutes on 2 cores; later builds take seconds."
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what the demo runs; scripts/test.sh builds the tests too. Ninja shows
# its progress on one line.
ninja -C build ntsim_cli setup setupres nyvcpl isdel modem_package

machine="${DEMO_MACHINE:-$(mktemp -d /tmp/ntsim-demo-XXXXXX)/machine}"
# An existing machine (DEMO_MACHINE) is used as it is: the uninstall runs
# where the install ran.
if [[ ! -f "$machine/machine.json" ]]; then
    build/ntsim new "$machine" >/dev/null
    echo "== A fresh NT 4.0 machine in $machine, the package in C:\\MODEM."
else
    echo "== The machine in $machine."
fi
args=("${@:--l}")
echo "== SETUP.EXE ${args[*]}: its pages and boxes come up here. The install: Next, Next, then"
echo "   choose a country in the applet's page and Finish it, then Finish the wizard."

before="$(dirname "$machine")/before.snap"
build/ntsim snapshot "$machine" "$before" >/dev/null
log="$machine/drive_c/MODEM/SETUP.TXT"
logBefore=0
if [[ -f "$log" ]]; then logBefore=$(stat -c %s "$log"); fi

status=0
build/ntsim run "$machine" -- 'C:\MODEM\SETUP.EXE' "${args[@]}" || status=$?
echo
echo "== SETUP.EXE ended with status $status."
echo
build/ntsim diff "$machine" --since "$before"
if [[ -f "$log" ]] && (($(stat -c %s "$log") > logBefore)); then
    echo
    echo "Log lines this run added to C:\\MODEM\\SETUP.TXT:"
    tail -c +$((logBefore + 1)) "$log" | tr -d '\r' | sed 's/^/  /'
fi
echo
echo "== The registry's changes as REGEDIT4: build/ntsim diff $machine --since $before --reg"
if [[ " ${args[*],,} " != *" -u "* ]]; then
    echo "== To uninstall on this machine: DEMO_MACHINE=$machine scripts/demo.sh -u -l"
fi
exit "$status"

#!/usr/bin/env bash
# The main job: a fresh simulated NT 4.0 machine with the sample package,
# and the setup program's install wizard started in it. Its pages and boxes
# appear on this terminal; afterwards the demo prints what the run changed.
# Extra arguments go to SETUP.EXE (default: -l).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
machine="${DEMO_MACHINE:-$(mktemp -d /tmp/ntsim-demo-XXXXXX)/machine}"
# An existing machine (DEMO_MACHINE) is used as it is: the uninstall runs
# where the install ran.
if [[ ! -f "$machine/machine.json" ]]; then
    build/ntsim new "$machine"
fi
echo "Machine: $machine"
before="$(dirname "$machine")/before.snap"
build/ntsim snapshot "$machine" "$before" >/dev/null
status=0
build/ntsim run "$machine" -- 'C:\MODEM\SETUP.EXE' "${@:--l}" || status=$?
echo "SETUP.EXE ended with status $status."
if [[ -f "$machine/drive_c/MODEM/SETUP.TXT" ]]; then
    echo "--- C:\\MODEM\\SETUP.TXT ---"
    tr -d '\r' < "$machine/drive_c/MODEM/SETUP.TXT"
fi
echo "--- what the run changed ---"
build/ntsim diff "$machine" --since "$before"
exit "$status"

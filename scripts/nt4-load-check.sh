#!/usr/bin/env bash
# Whether the 32-bit Windows build would load on Windows NT 4.0 at all: reads
# each file's PE header and import table with objdump and fails on a
# subsystem other than GUI or console, on an OS or subsystem version above
# 4.0, and on an import that tests/nt4/exports.txt does not list as there on
# NT 4.0 (an unknown library, a function, or an import by ordinal).
#
# Usage: scripts/nt4-load-check.sh [BUILD_DIR | FILE...]
#   BUILD_DIR (build-windows by default): its SETUP.EXE, setupres.dll,
#   ISDEL.EXE and nyvcpl.cpl.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/tests/nt4/exports.txt"

files=()
if (($# == 0)) || { (($# == 1)) && [[ -d "$1" ]]; }; then
    build="${1:-$root/build-windows}"
    for name in SETUP.EXE setupres.dll ISDEL.EXE nyvcpl.cpl; do
        files+=("$build/package/$name")
    done
else
    files=("$@")
fi

objdump=""
for candidate in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump objdump; do
    if command -v "$candidate" >/dev/null; then
        objdump="$candidate"
        break
    fi
done
if [[ -z "$objdump" ]]; then
    echo "nt4-load-check: no objdump (install binutils-mingw-w64-i686)" >&2
    exit 2
fi

status=0
for file in "${files[@]}"; do
    if [[ ! -f "$file" ]]; then
        echo "$file: missing (build the Windows build first)" >&2
        status=1
        continue
    fi
    "$objdump" -p "$file" | python3 -c '
import re, sys

file, listing = sys.argv[1], sys.argv[2]
known = {}
dll = None
for raw in open(listing):
    line = raw.split("#", 1)[0].strip()
    if not line:
        continue
    if line.startswith("["):
        dll = line.strip("[]").upper()
        known[dll] = {}
        continue
    name, version, source = line.split()
    known[dll][name] = tuple(int(p) for p in version.split("."))

header = {}
imports = []
dll = None
for line in sys.stdin:
    m = re.match(r"^(Subsystem|MajorOSystemVersion|MinorOSystemVersion|MajorSubsystemVersion|MinorSubsystemVersion)\s+([0-9a-fA-F]+)", line)
    if m:
        header[m.group(1)] = int(m.group(2), 16 if m.group(1) == "Subsystem" else 10)
        continue
    m = re.match(r"^\s*DLL Name: (\S+)", line)
    if m:
        dll = m.group(1).upper()
        continue
    m = re.match(r"^\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
    if dll and m:
        imports.append((dll, m.group(2)))
        continue
    m = re.match(r"^\s+[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line)
    if dll and m:
        imports.append((dll, "ordinal " + str(int(m.group(1), 16))))
    if not line.strip():
        dll = None

problems = []
subsystem = header.get("Subsystem")
if subsystem not in (2, 3):
    problems.append("subsystem %s is neither GUI (2) nor console (3)" % subsystem)
for what in ("OSystemVersion", "SubsystemVersion"):
    version = (header.get("Major" + what, 99), header.get("Minor" + what, 99))
    if version > (4, 0):
        problems.append("%s %d.%d is above 4.0" % (what.replace("OSystem", "OS "), *version))
for dll, name in imports:
    if dll not in known:
        problems.append("imports %s, a library NT 4.0 does not have" % dll)
    elif name not in known[dll]:
        problems.append("imports %s from %s, not listed as there on NT 4.0" % (name, dll))
    elif known[dll][name] > (4, 0):
        problems.append("imports %s from %s, which needs NT %d.%d" % ((name, dll) + known[dll][name]))
short = file.rsplit("/", 1)[-1]
if problems:
    for p in sorted(set(problems)):
        print("%s: %s" % (short, p))
    sys.exit(1)
libraries = len({d for d, _ in imports})
print("%s: subsystem %d, OS %d.%d, subsystem %d.%d, %d imports from %d libraries, all on NT 4.0" % (
    short, subsystem, header["MajorOSystemVersion"], header["MinorOSystemVersion"],
    header["MajorSubsystemVersion"], header["MinorSubsystemVersion"], len(imports), libraries))
' "$file" "$list" || status=1
done
exit "$status"

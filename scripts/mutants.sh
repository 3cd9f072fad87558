#!/usr/bin/env bash
# The project's mutation run: puts each fault of tests/mutants.txt into a
# scratch copy of the sources, one at a time, builds incrementally, runs the
# tests and says whether they caught it. The checkout itself is never
# changed. It takes minutes, so it is not part of CI; its last figures are
# in the README.
#
# Usage: scripts/mutants.sh [-k] [NAME_REGEX]
#   NAME_REGEX  only the mutants whose file or description it matches
#   -k          keep going through every test of a caught mutant
# Environment:
#   MUTANTS_DIR    the scratch copy and its build (default /tmp/modem-mutants)
#   MUTANTS_TESTS  ctest regex of the tests run (default: the program's suites)
#   MUTANTS_QUICK  ctest regex of the scenario suites tried first, against the
#                  rebuilt programs alone (linking the test binary takes most
#                  of a mutant's time); a fault they miss gets the full build
#                  and every test of MUTANTS_TESTS. Empty: always the full run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/tests/mutants.txt"
scratch="${MUTANTS_DIR:-/tmp/modem-mutants}"
tests="${MUTANTS_TESTS:-^(App|Driver|Install|Uninstall|UnInstall|ModemRegistry|KeyAccess|LegacyCleanup|Isdel|Applet|PackageInstall|AfxWindow|Resources)}"
quick="${MUTANTS_QUICK-^(InstallWizard|UninstallWizard|AppStartup|Isdel|Applet)\.}"
stop="--stop-on-failure"
if [[ "${1:-}" == "-k" ]]; then
    stop=""
    shift
fi
filter="${1:-.}"

# The scratch copy: the checkout's files (tracked and new, not ignored),
# with their times, so that a second run rebuilds only what changed.
mkdir -p "$scratch/src"
(cd "$root" && git ls-files -co --exclude-standard -z) |
    rsync -a --from0 --files-from=- "$root/" "$scratch/src/"
src="$scratch/src"
build="$src/build"
# Files the checkout no longer has leave the copy too: the build globs its folders.
(cd "$root" && git ls-files -co --exclude-standard) | sort >"$scratch/checkout.list"
(cd "$src" && find . -path ./build -prune -o -type f -print | sed 's|^\./||' | sort) >"$scratch/copy.list"
comm -23 "$scratch/copy.list" "$scratch/checkout.list" | (cd "$src" && xargs -r -d '\n' rm -f --)
export CCACHE_BASEDIR="$scratch"
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "== building the scratch copy in $build"
ninja -C "$build" -j2 >"$scratch/build.log" 2>&1 || { tail -20 "$scratch/build.log"; exit 2; }
echo "== the tests before any fault"
if ! (cd "$build" && ctest -R "$tests" -j2 --timeout 180 >"$scratch/baseline.log" 2>&1); then
    grep -A20 'tests FAILED' "$scratch/baseline.log" >&2 || tail -20 "$scratch/baseline.log" >&2
    echo "mutants: the tests fail without a fault; nothing to measure" >&2
    exit 2
fi

# The list as records separated by blank lines: file, from, to, why, and
# for a fault of the simulator the tests that should catch it (a ctest
# regex; such a fault skips the quick scenario run). "<NL>" in from and to
# stands for a line break.
mapfile -t records < <(python3 - "$list" "$filter" <<'PY'
import re, sys
path, pattern = sys.argv[1], re.compile(sys.argv[2])
record = {}
def emit():
    if record:
        if not all(k in record for k in ("file", "from", "to", "why")):
            sys.exit("mutants.txt: a record without file, from, to and why: %r" % record)
        if pattern.search(record["file"]) or pattern.search(record["why"]):
            print("\t".join(record.get(k, "") for k in ("file", "from", "to", "why", "tests")))
for raw in open(path, encoding="utf-8"):
    line = raw.rstrip("\n")
    if line.startswith("#"):
        continue
    if not line.strip():
        emit()
        record = {}
        continue
    key, _, value = line.partition(":")
    record[key.strip()] = value[1:] if value.startswith(" ") else value
emit()
PY
)

caught=0
missed=0
broken=0
start=$SECONDS
for record in "${records[@]}"; do
    IFS=$'\t' read -r file from to why own <<<"$record"
    catching="${own:-$tests}"
    target="$src/$file"
    saved="$scratch/saved"
    cp -p "$target" "$saved"
    if ! python3 - "$target" "$from" "$to" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("<NL>", "\n"), sys.argv[3].replace("<NL>", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit("found %d times" % text.count(old))
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
    then
        echo "STALE   $file: $why (its text is no longer found once)"
        broken=$((broken + 1))
        continue
    fi
    verdict=""
    if [[ -n "$quick" && -z "$own" ]]; then
        if ! ninja -C "$build" -j2 setup isdel >"$scratch/mutant-build.log" 2>&1; then
            verdict="broken"
        elif ! (cd "$build" && ctest -R "$quick" -j2 --stop-on-failure --timeout 180 >"$scratch/mutant-test.log" 2>&1); then
            verdict="caught"
        fi
    fi
    if [[ -z "$verdict" ]]; then
        if ! ninja -C "$build" -j2 >"$scratch/mutant-build.log" 2>&1; then
            verdict="broken"
        elif (cd "$build" && ctest -R "$catching" -j2 $stop --timeout 180 >"$scratch/mutant-test.log" 2>&1); then
            verdict="missed"
        else
            verdict="caught"
        fi
    fi
    case "$verdict" in
    broken)
        echo "BROKEN  $file: $why (does not build)"
        broken=$((broken + 1))
        ;;
    missed)
        echo "MISSED  $file: $why"
        missed=$((missed + 1))
        ;;
    caught)
        by=$(awk '/tests FAILED:/{getline; sub(/^[ \t]*[0-9]+ - /, ""); print; exit}' "$scratch/mutant-test.log")
        echo "caught  $file: $why (${by:-a test})"
        caught=$((caught + 1))
        ;;
    esac
    cp -p "$saved" "$target"
    touch "$target"
done
# The copy ends as the checkout is, built.
ninja -C "$build" -j2 >/dev/null 2>&1 || true
echo "mutants: $caught caught, $missed missed, $broken stale or not building, of ${#records[@]}, in $((SECONDS - start)) s"
((missed == 0 && broken == 0))

#!/bin/sh
# Builds the INF parser's fuzz target with clang and runs it for a bounded
# time (seconds, default 60) from the seed corpus. Exits non-zero on a finding.
set -eu
seconds="${1:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
work="$(mktemp -d "${TMPDIR:-/tmp}/inf-fuzz-XXXXXX")"
trap 'rm -rf "$work"' EXIT INT TERM

clang++ -std=c++17 -g -O1 -Wall -Wextra -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/ntsim" -I "$root/ntsim/include" \
    "$here/inf_fuzz.cpp" "$root/ntsim/setupapi/InfParser.cpp" "$root/ntsim/machine/Utf8.cpp" -o "$work/inf_fuzz"

# The committed seeds stay untouched; new inputs go to the scratch corpus.
mkdir -p "$work/corpus"
cp "$here"/corpus/* "$work/corpus/"
cd "$work"
./inf_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/" corpus

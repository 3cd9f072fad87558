#!/usr/bin/env bash
# Installs what the builds need on a Debian machine, if it is missing.
set -euo pipefail

# Usage: install-deps.sh [--ci] [--wine]
#   --ci     also valgrind, for bench/registry.sh
#   --wine   also Wine, for scripts/conformance.sh
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    clang libclang-rt-dev python3 nlohmann-json3-dev libcli11-dev libncurses-dev libsqlite3-dev ccache)
for arg in "$@"; do
    case "$arg" in
    --ci) packages+=(valgrind) ;;
    --wine) packages+=(wine wine64 xvfb) ;;
    *) echo "install-deps: unknown argument $arg" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

#!/usr/bin/env bash
# Installs what the project needs to build and test, when it is missing. Run as root on a fresh
# machine (Debian); elsewhere it only says what is missing.
set -euo pipefail

packages=(cmake g++ clang libclang-rt-dev make pkg-config libxml2-dev libxml2-utils
          libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev clang-format
          python3 valgrind)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null

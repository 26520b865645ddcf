#!/usr/bin/env bash
# Installs what the project needs, when it is missing. Run as root on a fresh machine (Debian);
# elsewhere it only says what is missing.
#
#   tools/setup.sh          the library and the command (the main job)
#   tools/setup.sh tests    also everything the test suite needs
#   tools/setup.sh bench    also the benchmark library
set -euo pipefail

packages=(cmake g++ make pkg-config libxml2-dev libcli11-dev nlohmann-json3-dev help2man
          libcpp-httplib-dev)
case "${1:-}" in
    "") ;;
    tests) packages+=(clang libclang-rt-dev libxml2-utils libgtest-dev libbenchmark-dev
                      clang-format python3 valgrind chromium chromium-driver python3-selenium) ;;
    bench) packages+=(libbenchmark-dev python3) ;;
    *) echo "usage: tools/setup.sh [tests|bench]" >&2; exit 2 ;;
esac
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

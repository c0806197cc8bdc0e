#!/usr/bin/env bash
# Installs what building and testing meshqem needs on Debian 12.
# Extra package names may be given as arguments (the benchmarks add theirs).
set -euo pipefail

packages=(cmake g++ make libgtest-dev libcli11-dev nlohmann-json3-dev assimp-testmodels "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs what building and testing meshqem needs on Debian 12.
# Extra package names may be given as arguments (the benchmarks add theirs).
# Runs as root, or through sudo; without either it says what to run as root.
set -euo pipefail
. "$(dirname "$0")/as-root.sh"

packages=(cmake g++ make libgtest-dev libcli11-dev libnanoflann-dev nlohmann-json3-dev libjemalloc-dev
          assimp-testmodels "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

# Root installs them itself, anyone else through sudo (env keeps the
# variable across sudo, which drops the caller's environment).
as_root apt-get update
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

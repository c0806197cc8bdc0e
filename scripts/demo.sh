#!/usr/bin/env bash
# Installs the build tools, builds meshqem and compares the example spheres.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release -DMESHQEM_BUILD_TESTS=OFF
cmake --build --preset release -j "$(nproc)"
echo "build/release/meshqem examples/sphere.ply examples/sphere_coarse.ply"
build/release/meshqem examples/sphere.ply examples/sphere_coarse.ply

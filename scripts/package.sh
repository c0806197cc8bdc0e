#!/usr/bin/env bash
# Builds the Debian package of meshqem with CPack, installs it with dpkg -i,
# runs the installed /usr/bin/meshqem on the shipped examples, checks its
# manual page and completion are in place, and removes the package again
# (unless a meshqem package was installed before: then the new one stays).
#   scripts/package.sh            the package lands in build/package/
# dpkg needs root: run as root, or with sudo installed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/as-root.sh

# dpkg-dev provides dpkg-shlibdeps, which finds the package's dependencies.
scripts/install-deps.sh dpkg-dev
build=build/package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DMESHQEM_BUILD_TESTS=OFF -DMESHQEM_WERROR="${MESHQEM_WERROR:-OFF}"
cmake --build "$build" -j "$(nproc)" --target meshqem
(cd "$build" && rm -f meshqem_*.deb && cpack -G DEB)
deb=$(ls "$build"/meshqem_*.deb)
echo "=== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

installed_before=no
if dpkg-query -W -f='${Status}' meshqem 2>/dev/null | grep -q 'ok installed'; then
    installed_before=yes
fi
as_root dpkg -i "$deb"

status=0
check() {  # check DESCRIPTION COMMAND...: runs COMMAND, notes a failure
    local description=$1
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description" >&2
        status=1
    fi
}
expected='Number of vertecies of first mesh is 642
Number of faces of second mesh is 80
Result of Point to Face is 258.013458
Number of vertecies of first mesh is 42
Number of faces of second mesh is 1280
Result of Point to Face is 0.000054
QEM Error is 97.325943'
report=$(/usr/bin/meshqem examples/sphere.ply examples/sphere_coarse.ply) || true
echo "$report"
check "the seven lines" [ "$report" = "$expected" ]
check "surface mode" sh -c '/usr/bin/meshqem --surface --samples 1000 examples/sphere.ply \
    examples/sphere_coarse.ply >/dev/null'
check "version" [ "$(/usr/bin/meshqem --version)" = "meshqem $(sed -n \
    's/^project(meshqem VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)" ]
for file in /usr/share/man/man1/meshqem.1 /usr/share/bash-completion/completions/meshqem \
    /usr/share/doc/meshqem/README.md; do
    check "$file" [ -f "$file" ]
done
check "depends on libgomp1" sh -c "dpkg-query -W -f='\${Depends}' meshqem | grep -q libgomp1"
if command -v man >/dev/null; then
    check "man meshqem" sh -c 'man -w meshqem | grep -q /usr/share/man/man1/meshqem.1'
fi

if [ "$installed_before" = no ]; then
    as_root dpkg -r meshqem
    check "removed" [ ! -e /usr/bin/meshqem ]
else
    echo "meshqem was installed before this run; the new package stays installed."
fi
exit $status

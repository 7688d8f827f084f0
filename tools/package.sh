#!/usr/bin/env bash
# Builds the Debian package of Brisolde from the release preset and checks it:
#
#   tools/package.sh
#
# installs what the build needs (tools/setup.sh deps), builds, packs with
# CPack and runs lintian on the result, which it leaves in build/release/package/:
#   brisolde_<version>_<arch>.deb          the program
#   brisolde-dbgsym_<version>_<arch>.deb   its debugging symbols (names and lines
#                                          in crash reports)
# Install it on a Debian 12 machine with
#   sudo apt-get install ./build/release/package/brisolde_*.deb
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

bash tools/setup.sh deps
cmake --preset release
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
rm -rf build/release/package
cpack --preset release

deb=$(ls build/release/package/brisolde_*.deb)
dbgsym=$(ls build/release/package/brisolde-dbgsym_*.deb)
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "== lintian"
lintian --fail-on error,warning --display-info "$deb" "$dbgsym"
echo "Built $deb ($(du -k "$deb" | cut -f1) KiB) and $dbgsym"

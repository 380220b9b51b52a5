#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds the program and writes the Debian package
# bundlewick_<version>_<arch>.deb into BUILD_DIR (default build/).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}
"$here/scripts/deps.sh"
if [[ ! -f $dir/CMakeCache.txt ]]; then
    cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Only what the package holds; tests and benchmarks stay out of it.
cmake --build "$dir" -j "$(nproc)" --target bundlewick bw_desktop_files
cd "$dir"
cpack -G DEB
ls -1 "$dir"/bundlewick_*.deb

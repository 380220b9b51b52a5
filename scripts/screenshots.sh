#!/usr/bin/env bash
# screenshots.sh [BUILD_DIR]: renders every dialog (and every page of the send
# editor) to PNG files under BUILD_DIR/screenshots, once with the usual look
# and once with a larger font and a dark palette. Needs no desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}
cmake --build "$dir" -j 2 --target bw_screenshots >/dev/null
exe=$(find "$dir" -name bw_screenshots -type f -perm -u+x | head -n 1)
out=$dir/screenshots
rm -rf "$out"
export QT_QPA_PLATFORM=offscreen
"$exe" "$out/normal"
"$exe" "$out/large-dark" --dark --font-scale 1.5
echo "screenshots in $out"

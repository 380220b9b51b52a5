#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# test.sh [BUILD_DIR [extra cmake arguments...]]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}; shift || true
"$here/scripts/deps.sh"
# SQL belongs to the tables' owners; checked before the long build.
"$here/scripts/check-sql.sh" "$here"
"$here/scripts/build.sh" "$dir" "$@"
"$here/scripts/s3rver.sh" "$dir"
cd "$dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" ${BW_CTEST_ARGS:-}

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
# The S3-compatible test server, pinned by tests/s3/package-lock.json.
if ! cmp -s "$here/tests/s3/package-lock.json" "$dir/s3rver/package-lock.json" \
    || [[ ! -x "$dir/s3rver/node_modules/.bin/s3rver" ]]; then
    mkdir -p "$dir/s3rver"
    cp "$here/tests/s3/package.json" "$here/tests/s3/package-lock.json" "$dir/s3rver/"
    (cd "$dir/s3rver" && npm ci --no-audit --no-fund --loglevel=error)
fi
cd "$dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" ${BW_CTEST_ARGS:-}

#!/usr/bin/env bash
# s3rver.sh BUILD_DIR: installs the S3-compatible test server pinned by
# tests/s3/package-lock.json into BUILD_DIR/s3rver, unless it is there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
if ! cmp -s "$here/tests/s3/package-lock.json" "$dir/s3rver/package-lock.json" \
    || [[ ! -x "$dir/s3rver/node_modules/.bin/s3rver" ]]; then
    mkdir -p "$dir/s3rver"
    cp "$here/tests/s3/package.json" "$here/tests/s3/package-lock.json" "$dir/s3rver/"
    (cd "$dir/s3rver" && npm ci --no-audit --no-fund --loglevel=error)
fi

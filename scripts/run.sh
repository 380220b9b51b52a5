#!/usr/bin/env bash
# Installs what is missing, builds and starts Bundlewick.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" "$here/build" -DBW_BUILD_TESTS=OFF -DBW_BUILD_BENCH=OFF
exec "$here/build/src/app/bundlewick" "$@"

#!/usr/bin/env bash
# Installs the Debian packages Bundlewick needs to build and test, only when
# something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libsqlite3-dev libzip-dev libdeflate-dev zlib1g-dev libcurl4-openssl-dev libssl-dev libgtest-dev
    zip unzip p7zip-full libarchive-tools xvfb
    python3 python3-pyftpdlib python3-aiosmtpd python3-openssl
    openssl openssh-client openssh-server
    # s3rver, the S3-compatible server of the tests (npm ci of tests/s3).
    nodejs
    # The icons' PNG sizes are rendered from the SVG at build time.
    librsvg2-bin
    # The Debian package (cpack, dpkg-shlibdeps) and the checks of what it installs.
    dpkg-dev file appstream desktop-file-utils mandoc groff-base bash-completion
)
# Debian's npm, unless another Node.js brought its own (NodeSource's
# nodejs package holds npm and conflicts with Debian's).
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

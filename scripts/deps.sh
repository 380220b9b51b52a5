#!/usr/bin/env bash
# Installs the Debian packages Bundlewick needs to build and test, only when
# something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev libsqlite3-dev libzip-dev libdeflate-dev zlib1g-dev libcurl4-openssl-dev libgtest-dev
    zip unzip p7zip-full xvfb
    python3 python3-pyftpdlib python3-aiosmtpd python3-openssl
    openssl openssh-client openssh-server desktop-file-utils
)

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

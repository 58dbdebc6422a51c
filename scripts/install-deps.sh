#!/usr/bin/env bash
# Installs the Debian packages that building and testing Brenvo need, skipping those already
# present. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libcurl4-openssl-dev ca-certificates libplist-dev libglib2.0-dev libgtk-3-dev
    libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev
    xvfb xauth xdotool
    clang-14 libclang-rt-14-dev
)
if [[ "${1:-}" == "--bench" ]]; then
    packages+=(libbenchmark-dev rapidjson-dev nlohmann-json3-dev libjsoncpp-dev
               libboost-json1.81-dev libsimdjson-dev)
fi
if [[ "${1:-}" == "--coverage" ]]; then
    packages+=(gcovr)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

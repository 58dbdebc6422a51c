#!/usr/bin/env bash
# Installs the Debian packages that a task needs, skipping those already present. Uses sudo when
# not run as root.
#
#   install-deps.sh [--demo] [--test] [--cross] [--package] [--bench] [--lint] [--coverage]
#
#   --demo      build the library and the brenvo tool (make demo); with a display (DISPLAY or
#               WAYLAND_DISPLAY set) also GTK 3, so that the demo shows its window
#   --test      everything the tests use (make test), --cross included; the default
#   --cross     the other machines, systems and standard library: cross compilers for s390x,
#               aarch64 and Windows, qemu-user and wine64 to run their programs, GoogleTest's
#               sources to build for them, clang with libc++
#   --package   build the Debian package (make package)
#   --bench     the benchmarks and the peer JSON libraries they measure (make bench)
#   --lint      clang-tidy, over the test build
#   --coverage  lcov, over the test build
set -euo pipefail

demo=(build-essential cmake ninja-build pkg-config ca-certificates
      libcurl4-openssl-dev libplist-dev libcpp-httplib-dev)
toolkits=(libglib2.0-dev libgtk-3-dev)
tests=(libgtest-dev libgmock-dev libssl-dev xvfb xauth xdotool clang-14 libclang-rt-14-dev
       help2man dpkg-dev file lintian devscripts
       # the Qt window, desktop notifications on a private bus, and a font for CJK text
       qt6-base-dev qt6-qpa-plugins dbus-daemon fonts-wqy-microhei
       # the windows read through the accessibility bus, and shown under a Wayland compositor
       at-spi2-core gir1.2-atspi-2.0 python3-gi weston qt6-wayland
       # what pkg-config --static libcurl and gtk+-3.0 name, for the static host test
       libnghttp2-dev librtmp-dev libssh2-1-dev libpsl-dev libkrb5-dev libldap2-dev
       libsystemd-dev)
cross=(build-essential cmake ninja-build clang-14 libc++-14-dev libc++abi-14-dev googletest
       g++-s390x-linux-gnu g++-aarch64-linux-gnu qemu-user g++-mingw-w64-x86-64-posix wine64)
package=(help2man dpkg-dev file)
bench=(libgtest-dev libgmock-dev libbenchmark-dev rapidjson-dev nlohmann-json3-dev
       libjsoncpp-dev libboost-json1.81-dev libsimdjson-dev)
lint=(clang-tidy-14)
coverage=(gcovr)

[[ $# -eq 0 ]] && set -- --test
packages=()
for profile in "$@"; do
    case $profile in
    --demo)
        packages+=("${demo[@]}")
        if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
            packages+=("${toolkits[@]}")
        fi
        ;;
    --test) packages+=("${demo[@]}" "${toolkits[@]}" "${tests[@]}" "${cross[@]}") ;;
    --cross) packages+=("${cross[@]}") ;;
    --package) packages+=("${demo[@]}" "${toolkits[@]}" "${package[@]}") ;;
    --bench) packages+=("${demo[@]}" "${bench[@]}") ;;
    --lint) packages+=("${demo[@]}" "${toolkits[@]}" "${tests[@]}" "${lint[@]}") ;;
    --coverage) packages+=("${demo[@]}" "${toolkits[@]}" "${tests[@]}" "${coverage[@]}") ;;
    *)
        echo "install-deps.sh: unknown profile $profile (see the top of $0)" >&2
        exit 2
        ;;
    esac
done

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
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

#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds the host example against it,
# once through find_package(Brenvo) and once through pkg-config, and runs both.
# Usage: run.sh <build dir> <source dir> <c++ compiler> <extra compile and link flags>
set -euo pipefail
build=$1 source=$2 cxx=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

# The README shows the same example that is compiled here.
while IFS= read -r line; do
    grep -qxF -- "$line" "$source/README.md" || { echo "README lacks example line: $line"; exit 1; }
done < <(grep -v '^\s*$' "$source/tests/consumer/project/main.cpp")

libdir=$(find "$work/prefix" -name 'libbrenvo.so' -printf '%h\n' | head -n 1)
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

expect_inert() { # the example has no Info.plist, so the agent must say it cannot check
    local output
    output=$(cd "$work" && "$1" 2>&1) || { echo "$1 failed: $output"; exit 1; }
    grep -q "Brenvo: No update check possible. Please set BrenvoAppId in Main Bundle Info.plist." \
        <<<"$output" || { echo "unexpected output from $1: $output"; exit 1; }
}

cmake -S "$source/tests/consumer/project" -B "$work/cmake-build" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
expect_inert "$work/cmake-build/host"
echo "find_package(Brenvo): built and ran"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cxx" $flags $(pkg-config --cflags brenvo) "$source/tests/consumer/project/main.cpp" \
    -o "$work/host-pc" $(pkg-config --libs brenvo)
expect_inert "$work/host-pc"
echo "pkg-config brenvo: built and ran"

# The Qt host example of the README, when Brenvo::qt6 was built: compiled and linked against the
# installed tree (running it needs a display and runs until closed).
if [[ -n "$(find "$work/prefix" -name 'libbrenvo_qt6.so' -print -quit)" ]]; then
    while IFS= read -r line; do
        grep -qxF -- "$line" "$source/README.md" || { echo "README lacks Qt example line: $line"; exit 1; }
    done < <(grep -v '^\s*$' "$source/tests/consumer/qt-project/main.cpp")
    cmake -S "$source/tests/consumer/qt-project" -B "$work/qt-build" -G Ninja \
        -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    cmake --build "$work/qt-build" >/dev/null
    echo "find_package(Brenvo) with Brenvo::qt6: built"
fi

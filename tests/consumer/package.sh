#!/usr/bin/env bash
# The Debian package of a build tree: CPack makes it, it declares its runtime dependencies,
# lintian finds no errors in it, and the tools run from the unpacked tree.
# Usage: package.sh <build dir>
set -euo pipefail
build=$1
unset LD_LIBRARY_PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(find "$work/out" -maxdepth 1 -name 'brenvo_*.deb')
[[ -f $deb ]] || { cat "$work/cpack.log" >&2; fail "no package made"; }
echo "made $(basename "$deb")"

# Runtime dependencies, as dpkg-shlibdeps found them from the binaries.
depends=$(dpkg-deb --field "$deb" Depends)
for package in libc6 libstdc++6 libcurl4 libplist3; do
    [[ " $depends," == *" $package "* || " $depends," == *" $package,"* ]] ||
        fail "Depends lacks $package: $depends"
done
echo "Depends: $depends"

lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
if grep -E '^E: ' "$work/lintian.log"; then
    fail "lintian reports errors"
fi
grep -E '^W: ' "$work/lintian.log" || true
echo "lintian: no errors"

dpkg-deb -x "$deb" "$work/root"
bin=$work/root/usr/bin
for tool in brenvo xkjson; do
    "$bin/$tool" --version >/dev/null || fail "unpacked $tool does not run"
done
[[ $("$bin/brenvo" compare 2.0 1.9) == 1 ]] || fail "unpacked brenvo compare"
[[ $(echo '[1, true]' | "$bin/xkjson") == '[1,true]' ]] || fail "unpacked xkjson"
for file in copyright changelog.Debian.gz; do
    [[ -f $work/root/usr/share/doc/brenvo/$file ]] || fail "the package lacks $file"
done
echo "unpacked tools: ran"

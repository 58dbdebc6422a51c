#!/usr/bin/env bash
# Brenvo installed, as its users meet it; nothing here uses LD_LIBRARY_PATH.
#
# run.sh shared <build dir> <source dir> <c++ compiler> <compile and link flags>
#   Installs the build tree into a temporary prefix, checks that the uninstall target removes it
#   again, installs it anew and moves it elsewhere, then: the installed tools and libraries find
#   each other (run paths relative to $ORIGIN), the manual pages and bash completions are in
#   place, and hosts build and run against it through find_package(Brenvo) (the README's
#   example, a C++23 host, every component, missing components) and through every pkg-config
#   file, and every installed header compiles alone against the installed tree.
# run.sh static <build dir> <source dir> <c++ compiler>
#   Builds Brenvo as static libraries from the source tree, without GTK, installs it, and builds
#   and runs the same hosts against it (pkg-config with --static); the GTK component and its
#   headers must then be missing.
set -euo pipefail
mode=$1 build=$2 source=$3 cxx=$4 flags=${5:-}
unset LD_LIBRARY_PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs a command quietly, showing its output only when it fails.
quiet() {
    local log="$work/command.log"
    "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}

# The header folders of the optional components; the core is every other folder.
declare -A component_folder=([glib]=platform/glib [gtk3]=platform/gtk [qt6]=platform/qt)

# A source file that includes every installed header of the core, or of one component.
write_headers_source() { # <prefix> <component or "core"> <file>
    local include=$1/include part=$2 file=$3
    {
        echo "// Every installed header of $part, each usable on its own."
        if [[ $part == core ]]; then
            (cd "$include" && find brenvo -name '*.h' | sort) | while read -r header; do
                local inside=false
                for folder in "${component_folder[@]}"; do
                    [[ $header == brenvo/$folder/* ]] && inside=true
                done
                $inside || echo "#include \"$header\""
            done
        else
            (cd "$include" && find "brenvo/${component_folder[$part]}" -name '*.h' | sort) |
                sed 's/.*/#include "&"/'
        fi
    } >"$file"
    grep -q '#include' "$file" || fail "no installed headers for $part"
}

# Every installed header compiles alone (first in an empty file), from the installed tree only,
# with the flags its pkg-config module gives: none is broken or needs a header that is not
# installed.
# One line of headers.list: "<header>\t<cflags>". -H names every header read, and Brenvo's must
# all come from $include.
compile_alone() {
    local header cflags out
    IFS=$'\t' read -r header cflags <<<"$1"
    # shellcheck disable=SC2086
    # From an empty folder, as a quoted include looks in the current one first.
    out=$(cd "$empty" && printf '#include "%s"\n' "$header" |
        "$cxx" $flags -std=c++20 $cflags -H -fsyntax-only -x c++ - 2>&1) || {
        printf '%s does not compile alone:\n%s\n' "$header" "$out" >&2
        return 255
    }
    local read
    read=$(sed -n 's|^\.\+ \(.*/brenvo/.*\)|\1|p' <<<"$out" | xargs -r -d '\n' realpath --)
    if [[ -n $read ]] && grep -vF "$include/" <<<"$read"; then
        echo "$header reads the headers above from outside $include" >&2
        return 255
    fi
}

check_headers_alone() { # <prefix>
    local prefix=$1 include
    include=$(realpath "$1/include")
    local part module
    local -A module_cflags
    for part in core "${!component_folder[@]}"; do
        module=brenvo
        [[ $part != core ]] && module=brenvo-$part
        pkg-config --exists "$module" && module_cflags[$part]=$(pkg-config --cflags "$module")
    done
    # One line per header: the header, then the flags of its part.
    (cd "$include" && find brenvo -name '*.h' | LC_ALL=C sort) | while read -r header; do
        part=core
        for folder in "${!component_folder[@]}"; do
            [[ $header == brenvo/${component_folder[$folder]}/* ]] && part=$folder
        done
        [[ -v module_cflags[$part] ]] || fail "$header is installed without its pkg-config module"
        printf '%s\t%s\n' "$header" "${module_cflags[$part]}"
    done >"$work/headers.list"
    local count
    count=$(wc -l <"$work/headers.list")
    [[ $count -gt 0 ]] || fail "no headers installed in $include"
    local empty=$work/empty
    mkdir -p "$empty"
    export cxx flags include empty
    export -f compile_alone
    # shellcheck disable=SC2016
    xargs -P 2 -d '\n' -n 1 bash -c 'compile_alone "$1"' compile <"$work/headers.list" ||
        fail "installed headers that do not compile alone"
    echo "installed headers: $count compile alone"
}

# The host has no Info.plist, so the agent must say it cannot check, and end.
expect_inert() { # <executable>
    local output
    output=$(cd "$work" && "$1" 2>&1) || fail "$1 failed: $output"
    grep -q "Brenvo: No update check possible. Please set BrenvoAppId in Main Bundle Info.plist." \
        <<<"$output" || fail "unexpected output from $1: $output"
}

# Fails unless `executable` loads the library of `part` (core or a component).
expect_needed() { # <executable> <part> <yes|no>
    local library=libbrenvo.so
    [[ $2 != core ]] && library=libbrenvo_$2.so
    if readelf -d "$1" | grep -q "NEEDED.*\[$library"; then
        [[ $3 == yes ]] || fail "$1 loads $library"
    else
        [[ $3 == no ]] || fail "$1 does not load $library"
    fi
}

# Configures and builds the consumer project in $work/host-<name>; prints the configure log.
cmake_host() { # <name> <prefix> [-D...]
    local name=$1 prefix=$2
    shift 2
    cmake -S "$source/tests/consumer/project" -B "$work/host-$name" -G Ninja \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" "$@" >"$work/host-$name.log" 2>&1
}

build_host() { # <name> <prefix> [-D...]
    cmake_host "$@" || { cat "$work/host-$1.log" >&2; fail "configuring host $1"; }
    quiet cmake --build "$work/host-$1"
}

# The README shows the examples compiled here: the host that every test builds, the host that
# names where its Info.plist is, and the host with "Check for Updates…".
for example in main.cpp elsewhere.cpp checkforupdates.cpp; do
    while IFS= read -r line; do
        grep -qxF -- "$line" "$source/README.md" || fail "README lacks $example line: $line"
    done < <(grep -v '^\s*$' "$source/tests/consumer/project/$example")
done

# A host must keep its own, later standard.
printf 'static_assert(__cplusplus > 202002L, "the host asked for C++23");\n' >"$work/cxx23.cpp"
cxx23=-std=c++23 # clang 14 knows it as c++2b
"$cxx" -std=c++23 -fsyntax-only "$work/cxx23.cpp" 2>/dev/null || cxx23=-std=c++2b

# Hosts of every part through CMake and pkg-config. `linkage` is shared or static.
check_hosts() { # <prefix> <linkage>
    local prefix=$1 linkage=$2 needed=yes
    [[ $linkage == static ]] && needed=no
    local libdir
    libdir=$(find "$prefix" -name 'libbrenvo.*' -printf '%h\n' | head -n 1)
    local installed=()
    for component in "${!component_folder[@]}"; do
        [[ -f $(dirname "$(find "$prefix" -name BrenvoConfig.cmake)")/BrenvoComponent-$component.cmake ]] &&
            installed+=("$component")
    done

    write_headers_source "$prefix" core "$work/headers-core.cpp"
    build_host "$linkage-core" "$prefix" -DHOST_STANDARD=23 \
        "-DHOST_SOURCES=$work/headers-core.cpp;$work/cxx23.cpp"
    expect_needed "$work/host-$linkage-core/host" core $needed
    expect_inert "$work/host-$linkage-core/host"
    for component in "${installed[@]}"; do
        write_headers_source "$prefix" "$component" "$work/headers-$component.cpp"
        build_host "$linkage-$component" "$prefix" "-DHOST_COMPONENTS=$component" \
            "-DHOST_LINK=Brenvo::$component;Brenvo::brenvo" "-DHOST_SOURCES=$work/headers-$component.cpp"
        expect_needed "$work/host-$linkage-$component/host" "$component" $needed
        expect_inert "$work/host-$linkage-$component/host"
    done
    echo "find_package(Brenvo) $linkage: core ${installed[*]} built and ran"

    # A component this installation lacks, and one that does not exist, fail clearly.
    local missing=nope
    for component in glib gtk3 qt6; do
        [[ " ${installed[*]} " == *" $component "* ]] || missing="$missing $component"
    done
    for component in $missing; do
        [[ $component == nope || ! -e $prefix/include/brenvo/${component_folder[$component]} ]] ||
            fail "the headers of $component are installed, but not the component"
        ! cmake_host "missing-$component" "$prefix" "-DHOST_COMPONENTS=$component" ||
            fail "find_package(Brenvo COMPONENTS $component) succeeded"
        local expected="this installation was built without it"
        [[ $component == nope ]] && expected="there is no such component"
        # CMake wraps the message; its words must be there in order.
        tr -s ' \n' '  ' <"$work/host-missing-$component.log" |
            grep -q "Brenvo's component \"$component\" is not available: $expected" || {
            cat "$work/host-missing-$component.log" >&2
            fail "no clear message for the missing component $component"
        }
    done

    local pkgconfig=(pkg-config)
    [[ $linkage == static ]] && pkgconfig+=(--static)
    export PKG_CONFIG_PATH="$libdir/pkgconfig"
    local modules=()
    for pc in "$libdir"/pkgconfig/*.pc; do
        local module part=core
        module=$(basename "$pc" .pc)
        [[ $module == brenvo-* ]] && part=${module#brenvo-}
        modules+=("$module")
        pkg-config --validate "$module" || fail "$pc is not valid"
        local cflags libs
        cflags=$("${pkgconfig[@]}" --cflags "$module")
        libs=$("${pkgconfig[@]}" --libs "$module")
        [[ $cflags != *-std=* ]] || fail "$module forces a standard: $cflags"
        # shellcheck disable=SC2086
        quiet "$cxx" $flags $cxx23 $cflags "$source/tests/consumer/project/main.cpp" \
            "$work/headers-$part.cpp" "$work/cxx23.cpp" -o "$work/pc-$module" \
            -Wl,--no-as-needed $libs -Wl,-rpath,"$libdir"
        expect_needed "$work/pc-$module" "$part" $needed
        expect_inert "$work/pc-$module"
    done
    [[ ${#modules[@]} -eq $((1 + ${#installed[@]})) ]] ||
        fail "pkg-config files ${modules[*]} for the parts core ${installed[*]}"
    echo "pkg-config $linkage: ${modules[*]} built and ran"
}

if [[ $mode == static ]]; then
    # Without GTK, so that a component that was not built is missing for real.
    quiet cmake -S "$source" -B "$work/static-build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
        -DBUILD_SHARED_LIBS=OFF -DBRENVO_BUILD_TESTS=OFF -DBRENVO_BUILD_TOOLS=OFF \
        -DBRENVO_WITH_GTK=OFF
    quiet cmake --build "$work/static-build" -j 2
    quiet cmake --install "$work/static-build" --prefix "$work/static"
    check_hosts "$work/static" static
    exit 0
fi

# Install, uninstall, install again, then move the tree: nothing may depend on where it was.
quiet cmake --install "$build" --prefix "$work/installed"
quiet cmake --build "$build" --target uninstall
left=$(find "$work/installed" ! -type d)
[[ -z $left ]] || fail "uninstall left: $left"
quiet cmake --install "$build" --prefix "$work/installed"
mv "$work/installed" "$work/prefix"
prefix=$work/prefix
libdir=$(find "$prefix" -name 'libbrenvo.so' -printf '%h\n' | head -n 1)

# Every library loads by itself from the moved tree: each finds the others beside it.
printf '%s\n' '#include <dlfcn.h>' '#include <cstdio>' \
    'int main(int, char** argv) { if (!dlopen(argv[1], RTLD_NOW)) { std::puts(dlerror()); return 1; } }' \
    >"$work/load.cpp"
# shellcheck disable=SC2086
quiet "$cxx" $flags "$work/load.cpp" -o "$work/load" -ldl
for library in "$libdir"/libbrenvo*.so; do
    quiet "$work/load" "$library"
done

for tool in brenvo xkjson; do
    readelf -d "$prefix/bin/$tool" | grep -q 'R.*PATH.*\[\$ORIGIN/' || fail "$tool has no \$ORIGIN run path"
    version=$("$prefix/bin/$tool" --version) || fail "$tool --version failed"
    [[ $version =~ ^$tool\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$tool --version: $version"
    zcat "$prefix/share/man/man1/$tool.1.gz" | grep -q '^\.TH' ||
        fail "no manual page for $tool (is help2man installed?)"
    [[ -f $prefix/share/bash-completion/completions/$tool ]] || fail "no bash completion for $tool"
done
zcat "$prefix/share/man/man1/brenvo.1.gz" | grep -q 'brenvo serve-store' ||
    fail "the manual page of brenvo lacks its commands"
[[ $("$prefix/bin/brenvo" compare 1.10 1.9) == 1 ]] || fail "brenvo compare"
[[ $(printf '{"b":1,"a":[true]}' | "$prefix/bin/xkjson" --sort-keys) == '{"a":[true],"b":1}' ]] ||
    fail "xkjson"
echo "installed tools: ran from a moved prefix"

# Completions, as bash calls them: words so far in, candidates out.
completion() { # <tool> <word>...
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); tool=$1
             "_$tool"; for word in "${COMPREPLY[@]}"; do echo "$word"; done' completion \
        "$prefix/share/bash-completion/completions/$1" "$@" | LC_ALL=C sort | tr '\n' ' '
}
while IFS='|' read -r words expected; do
    # shellcheck disable=SC2086
    got=$(completion $words "")
    [[ $got == "$expected" ]] || fail "completing \"$words\": got \"$got\", expected \"$expected\""
done <<'EOF'
brenvo|--help --version check compare demo make-lookup run serve-store 
brenvo check --answer|close open skip 
brenvo run --window|gtk notification qt terminal 
xkjson --max-depth|
EOF
[[ $(completion brenvo se) == "serve-store " ]] || fail "completing brenvo se"
[[ $(completion brenvo serve-store --ve) == "--version " ]] || fail "completing --ve"
[[ $(completion xkjson --so) == "--sort-keys " ]] || fail "completing xkjson --so"
# Every option a command's --help names (and --help) is completed, and no other.
options_in_help() { # <tool> [command]
    { "$prefix/bin/$1" "${@:2}" --help | grep -oE -- '--[a-z][a-z-]*'; echo --help; } |
        LC_ALL=C sort -u | tr '\n' ' '
}
for command in demo check run serve-store make-lookup compare; do
    [[ $(completion brenvo "$command" --) == "$(options_in_help brenvo "$command")" ]] ||
        fail "completion of brenvo $command: $(completion brenvo "$command" --)"
done
[[ $(completion xkjson --) == "$(options_in_help xkjson)" ]] ||
    fail "completion of xkjson: $(completion xkjson --)"
echo "bash completions: complete commands, options and values"

# The README's example finds an Info.plist in the data folder of an installed program.
mkdir -p "$work/app/bin" "$work/app/share/host"
check_hosts "$prefix" shared
cp "$work/host-shared-core/host" "$work/app/bin/host"
cat >"$work/app/share/host/Info.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>BrenvoDebugMessages</key>
    <true/>
</dict>
</plist>
EOF
output=$("$work/app/bin/host" 2>&1) || fail "host in app/bin: $output"
grep -q "Debugging Messages are activated." <<<"$output" ||
    fail "the host did not read app/share/host/Info.plist: $output"
echo "Info.plist: found in <exe dir>/../share/<exe name>/"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
check_headers_alone "$prefix"

# shellcheck disable=SC2046,SC2086
quiet "$cxx" $flags -std=c++20 $(pkg-config --cflags brenvo) \
    "$source/tests/consumer/project/elsewhere.cpp" -o "$work/elsewhere" \
    $(pkg-config --libs brenvo) -Wl,-rpath,"$libdir"
expect_inert "$work/elsewhere"
echo "Info.plist: named by the host"

# "Check for Updates…" with an outcome observer: without an Info.plist the one outcome heard is
# that nothing is configured, and the loop has nothing left to wait for.
# shellcheck disable=SC2046,SC2086
quiet "$cxx" $flags -std=c++20 $(pkg-config --cflags brenvo) \
    "$source/tests/consumer/project/checkforupdates.cpp" -o "$work/checkforupdates" \
    $(pkg-config --libs brenvo) -Wl,-rpath,"$libdir"
output=$(cd "$work" && ./checkforupdates 2>/dev/null) || fail "checkforupdates failed: $output"
[[ $output == not-configured ]] || fail "checkforupdates heard: $output"
echo "Check for Updates: the outcome observer hears the check"

# The Qt host example of the README, when Brenvo::qt6 was built: compiled and linked against the
# installed tree (running it needs a display and runs until closed).
if [[ -n "$(find "$prefix" -name 'libbrenvo_qt6.so' -print -quit)" ]]; then
    while IFS= read -r line; do
        grep -qxF -- "$line" "$source/README.md" || fail "README lacks Qt example line: $line"
    done < <(grep -v '^\s*$' "$source/tests/consumer/qt-project/main.cpp")
    quiet cmake -S "$source/tests/consumer/qt-project" -B "$work/qt-build" -G Ninja \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
    quiet cmake --build "$work/qt-build"
    echo "find_package(Brenvo) with Brenvo::qt6: built"
fi

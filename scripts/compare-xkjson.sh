#!/usr/bin/env bash
# Runs the xkjson of a build for another machine or system and a native xkjson over every JSON
# input of the tree, in every mode, and fails on any difference in standard output, standard
# error or exit status. Run from the source root: both see the same relative paths, which
# their messages show.
#
#   compare-xkjson.sh NATIVE WORKDIR COMMAND...
#
# COMMAND is the other xkjson, after its emulator ("qemu-s390x -L /usr/s390x-linux-gnu
# build/s390x/bin/xkjson"). WORKDIR receives the generated inputs and the outputs. Each run
# takes many files (xkjson takes them in turn, each as if given alone), so that an emulator
# starts a few dozen times rather than thousands; a batch that differs is taken apart to name
# its files.
set -euo pipefail

if [[ $# -lt 3 ]]; then
    echo "usage: compare-xkjson.sh NATIVE WORKDIR COMMAND..." >&2
    exit 2
fi
native=$1 work=$2
shift 2
if [[ ! -x $native ]]; then
    echo "compare-xkjson.sh: no native xkjson at $native (build the dev preset's xkjson)" >&2
    exit 2
fi
rm -rf "$work"
mkdir -p "$work/inputs"

# Objects no file of the tree has: hundreds of members (put in order by a radix sort from 512
# on, by comparisons below), keys beyond ASCII, astral, with NUL units or with units whose
# bytes order them differently than the units do (U+0100 and U+0001), keys that share their
# first eight units, and equal keys, of which the last is kept.

# key I: sets `key` to the I-th key.
key() {
    local i=$1
    case $((i % 9)) in
    0) printf -v key 'k%04d' "$i" ;;
    1) printf -v key '\\u00e9%d' "$i" ;;
    2) printf -v key '\xc3\xa9\xe6\x97\xa5%d' "$i" ;;
    3) printf -v key '\\ud83d\\ude00%d' "$i" ;;
    4) printf -v key '\xf0\x9f\x98\x80\\u0000%d' "$i" ;;
    5) printf -v key '\\u0000%d\\u0000' "$i" ;;
    6) printf -v key '\\u%04x\\u%04x' $((i * 263 % 55296)) $((i / 9 % 2 ? 1 : 256)) ;;
    7) printf -v key 'shared prefix %d' "$i" ;;
    8) key=same ;;
    esac
}
# object N: writes an object of N members.
object() {
    local members=$1 i text='{'
    for ((i = 0; i < members; ++i)); do
        key "$i"
        ((i == 0)) || text+=','
        text+="\"$key\":$((i * 7919 % 1000003))"
    done
    printf '%s}' "$text"
}
for members in 5 100 511 512 600 2048; do
    object "$members" >"$work/inputs/object-$members.json"
done
# A list of records of two shapes in turn: the parser remembers the member order of a shape.
{
    printf '['
    for ((i = 0; i < 200; ++i)); do
        ((i == 0)) || printf ','
        if ((i % 2)); then object 12; else object 40; fi
    done
    printf ']'
} >"$work/inputs/records.json"

shopt -s nullglob
inputs=(tests/data/jsontestsuite/test_parsing/*.json tests/data/roundtrip/*.json bench/data/*.json
        fuzz/corpus/json_parse/* fuzz/corpus/json_roundtrip/* "$work"/inputs/*.json)
modes=("" "--fragment" "--pretty" "--sort-keys" "--max-depth 3")

# Batches of inputs whose names fit a Windows command line (32767 characters) with room to
# spare: batches[k] is the index of the first input of batch k.
batches=(0)
length=0
for ((i = 0; i < ${#inputs[@]}; ++i)); do
    length=$((length + ${#inputs[i]} + 1))
    if ((length > 24000)); then
        batches+=("$i")
        length=$((${#inputs[i]} + 1))
    fi
done
batches+=("${#inputs[@]}")

# run NAME COMMAND...: the outputs of one run in $work/NAME.out, .err and .status.
run() {
    local name=$1 status=0
    shift
    "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null || status=$?
    echo "$status" >"$work/$name.status"
}
same() {
    cmp -s "$work/native.out" "$work/other.out" && cmp -s "$work/native.err" "$work/other.err" &&
        cmp -s "$work/native.status" "$work/other.status"
}

differences=0
for mode in "${modes[@]}"; do
    # shellcheck disable=SC2086 # a mode is zero, one or two words
    for ((k = 0; k + 1 < ${#batches[@]}; ++k)); do
        first=${batches[k]}
        files=("${inputs[@]:first:batches[k + 1] - first}")
        run native "$native" $mode "${files[@]}"
        run other "$@" $mode "${files[@]}"
        same && continue
        before=$differences
        for file in "${files[@]}"; do
            run native "$native" $mode "$file"
            run other "$@" $mode "$file"
            if ! same; then
                differences=$((differences + 1))
                echo "xkjson ${mode:-(default)} $file: differs from the native xkjson" \
                    "(status $(<"$work/native.status") natively, $(<"$work/other.status") here)"
                diff -a <(cat "$work/native.out" "$work/native.err") \
                    <(cat "$work/other.out" "$work/other.err") | head -n 6 | cut -c1-200 || true
            fi
        done
        if ((differences == before)); then
            differences=$((differences + 1))
            echo "xkjson ${mode:-(default)}: files ${first} to $((first + ${#files[@]} - 1))" \
                "differ from the native xkjson taken together, though not one by one"
        fi
    done
done
runs=$((${#inputs[@]} * ${#modes[@]}))
if ((differences)); then
    echo "xkjson: $differences of $runs runs differ from the native xkjson"
    exit 1
fi
echo "xkjson: all $runs runs (${#inputs[@]} inputs, ${#modes[@]} modes) equal the native xkjson's"

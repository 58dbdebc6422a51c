#!/usr/bin/env bash
# Runs one fuzz target of the fuzz preset (make fuzz) at the lowest priority, with its
# dictionary, for the given number of seconds. The working corpus grows in
# build/fuzz/corpus/<name>, seeded from fuzz/corpus/<name>; crashes land in
# build/fuzz/artifacts/<name>/. With --merge, the inputs that reach code (new edges, hit counts
# aside) the kept corpus does not are then added to fuzz/corpus/<name>, which CTest replays in
# every build.
#
#   fuzz/run.sh property_list 1800 --merge
set -euo pipefail

if [[ $# -lt 1 ]]; then
    echo "usage: fuzz/run.sh <target> [seconds] [--merge]" >&2
    exit 2
fi
name=$1
seconds=${2:-600}
merge=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$root/build/fuzz/bin/fuzz_$name
if [[ ! -x $binary ]]; then
    echo "no $binary: build the fuzz preset first (make fuzz)" >&2
    exit 1
fi
case $name in
    json_* | reply_decision) dict=$root/fuzz/dict/json.dict ;;
    *) dict=$root/fuzz/dict/$name.dict ;;
esac
seeds=$root/fuzz/corpus/$name
work=$root/build/fuzz/corpus/$name
artifacts=$root/build/fuzz/artifacts/$name
mkdir -p "$work" "$artifacts"

# At the lowest priority on a busy machine an ordinary input can wait for the processor for
# seconds: only a minute without progress counts as a hang.
nice -n 19 "$binary" -dict="$dict" -max_total_time="$seconds" -timeout=60 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" "$seeds"

if [[ $merge == --merge ]]; then
    nice -n 19 "$binary" -merge=1 -use_counters=0 "$seeds" "$work"
fi

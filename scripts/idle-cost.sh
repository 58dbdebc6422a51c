#!/usr/bin/env bash
# Shows what the update agent costs while it waits: runs `brenvo run` for an application with a
# one-day interval against a local store, lets it make its first check, then attaches strace
# for SECONDS seconds (default 60) and prints every system call the process made meanwhile.
# A sleeping agent makes none: it blocks in one poll until its next deadline.
#
#   scripts/idle-cost.sh [BRENVO_BINARY] [SECONDS]
set -euo pipefail

brenvo=${1:-build/release/bin/brenvo}
seconds=${2:-60}
[[ -x $brenvo ]] || { echo "idle-cost: $brenvo not found; build it first (cmake --build --preset release)" >&2; exit 1; }
command -v strace >/dev/null || { echo "idle-cost: strace is not installed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A store that offers the version the application already has, so no window opens.
"$brenvo" serve-store --version 1.0 >"$work/store.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    [[ -s $work/store.out ]] && break
    sleep 0.1
done
store_url=$(head -n 1 "$work/store.out")
[[ $store_url == http://* ]] || { echo "idle-cost: the store did not start: $(cat "$work/store.out")" >&2; exit 1; }

cat >"$work/Info.plist" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>CFBundleName</key><string>Idle</string>
    <key>CFBundleIdentifier</key><string>org.brenvo.idle</string>
    <key>CFBundleShortVersionString</key><string>1.0</string>
    <key>BrenvoAppId</key><string>1</string>
    <key>BrenvoInterval</key><integer>86400</integer>
    <key>BrenvoCastUrl</key><string>${store_url}</string>
    <key>BrenvoDebugMessages</key><true/>
</dict>
</plist>
EOF

# The agent runs under strace from its first instruction; the trace is cut when it is stopped.
strace -f -tt -s 256 -o "$work/trace.txt" "$brenvo" run --info-plist "$work/Info.plist" \
    --defaults "$work/defaults.plist" --window terminal </dev/null >"$work/agent.out" 2>&1 &
tracer=$!
pids+=("$tracer")

# The first check is over when the agent logs that the store offers no new version.
for _ in $(seq 100); do
    grep -q "No new Version available" "$work/agent.out" && break
    sleep 0.1
done
grep -q "No new Version available" "$work/agent.out" ||
    { echo "idle-cost: the first check did not finish:" >&2; cat "$work/agent.out" >&2; exit 1; }
echo "== the agent's log"
cat "$work/agent.out"

echo "== waiting ${seconds} s"
sleep "$seconds"
agent=$(pgrep -P "$tracer" -x brenvo)
echo "threads while waiting: $(ls "/proc/$agent/task" | wc -l)"
kill -TERM "$agent"
wait "$tracer" 2>/dev/null || true

# Everything after the write of that log line and before the stop signal is the idle cost.
awk '/write\(.*No new Version available/ {after = 1; next}
     /--- SIGTERM/ {exit}
     after {print}' "$work/trace.txt" >"$work/idle.txt"
echo "== system calls in all threads: $(grep -vc -e '^[0-9]* *[0-9:.]* ---' -e '+++' "$work/trace.txt") in the whole run"
echo "== after the first check until the stop signal ($seconds s of waiting): $(wc -l <"$work/idle.txt")"
cat "$work/idle.txt"

#!/bin/sh
# Runs Trimora against the simulated bench: trimora-sim on free loopback ports, a demo working folder
# (BUILD/demo) whose settings file points at them, and the program in this terminal. The simulator is
# stopped when Trimora ends, however it ends. Usage: sh scripts/demo.sh [BUILD]
# DMM_STYLE=raw serves the DMM as a raw SCPI socket instead of a telnet-style port, and the settings
# file then says TCP.RAW.
set -eu

build=${1:-build}
style=${DMM_STYLE:-telnet}
case "$style" in
  telnet | raw) ;;
  *)
    echo "demo: DMM_STYLE must be telnet or raw, not $style" >&2
    exit 1
    ;;
esac
if [ ! -d "$build" ]; then
  echo "demo: no build folder $build; run make first" >&2
  exit 1
fi
build=$(cd "$build" && pwd)
sim="$build/trimora-sim"
program="$build/trimora"
for binary in "$sim" "$program"; do
  if [ ! -x "$binary" ]; then
    echo "demo: $binary is missing; run make first" >&2
    exit 1
  fi
done

demo="$build/demo"
mkdir -p "$demo"
ports="$demo/simulator.out"
settings="$demo/QUELT_Trimora.cfg"
rm -f "$ports" "$settings"

# The supply's calibration is kept in the demo folder, so a calibration survives into the next demo.
# Trimora reads its instruments' addresses from the settings file in its working folder: the
# simulator writes it for the ports it serves before it reports them.
"$sim" --dmm-port 0 --psu-port 0 --bind 127.0.0.1 --wire auto --state "$demo/simulated-dp832.cal" \
  --dmm-style "$style" --write-settings "$settings" >"$ports" 2>"$demo/simulator.err" &
sim_pid=$!

stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}
trap stop_simulator EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Wait (up to 10 s) for the simulator to print the two addresses it listens on.
tries=0
while :; do
  lines=$(grep -c 'listening on 127\.0\.0\.1:' "$ports" 2>/dev/null) || lines=0
  [ "$lines" -ge 2 ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: the simulator did not start:" >&2
    cat "$demo/simulator.err" >&2
    exit 1
  fi
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ]; then
    echo "demo: the simulator did not report its ports" >&2
    exit 1
  fi
  sleep 0.1
done
dmm_port=$(sed -n 's/^DMM listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$ports")
psu_port=$(sed -n 's/^DP832 listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$ports")
if [ -z "$dmm_port" ] || [ -z "$psu_port" ] || ! grep -q "^DMM_Port    $dmm_port\$" "$settings"; then
  echo "demo: could not read the simulator's ports from $ports" >&2
  exit 1
fi

echo "Simulated DMM ($style style) on 127.0.0.1:$dmm_port and DP832 on 127.0.0.1:$psu_port (DMM leads follow the"
echo "channel switched on last). Working folder: $demo"
echo

cd "$demo"
status=0
"$program" || status=$?
exit "$status"

#!/bin/sh
# Runs Trimora against the simulated bench: trimora-sim on free loopback ports, a demo working folder
# (BUILD/demo) whose settings file points at them, and the program in this terminal. The simulator is
# stopped when Trimora ends, however it ends. Usage: sh scripts/demo.sh [BUILD]
set -eu

build=${1:-build}
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
rm -f "$ports"

# The supply's calibration is kept in the demo folder, so a calibration survives into the next demo.
"$sim" --dmm-port 0 --psu-port 0 --bind 127.0.0.1 --wire auto --state "$demo/simulated-dp832.cal" \
  >"$ports" 2>"$demo/simulator.err" &
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
if [ -z "$dmm_port" ] || [ -z "$psu_port" ]; then
  echo "demo: could not read the simulator's ports from $ports" >&2
  exit 1
fi

# Trimora reads its instruments' addresses from the settings file in its working folder.
printf 'DMM_IP    127.0.0.1\nDMM_Port    %s\nDMM_Connect_Method    TCP.SCPI\nLast_Run_Time    "NONE"\nDP832_IP    127.0.0.1\nDP832_Port    %s\nDP832_Connect_Method    TCP.SCPI\n' \
  "$dmm_port" "$psu_port" >"$demo/QUELT_Trimora.cfg"

echo "Simulated DMM on 127.0.0.1:$dmm_port and DP832 on 127.0.0.1:$psu_port (DMM leads follow the"
echo "channel switched on last). Working folder: $demo"
echo

cd "$demo"
status=0
"$program" || status=$?
exit "$status"

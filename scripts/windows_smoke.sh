#!/bin/sh
# Windows smoke test: checks that trimora.exe imports only system DLLs, then runs it under Wine
# against the Linux simulator (scripts/windows_smoke.py), inside a network namespace that has only
# loopback where the system allows it.
# Usage: sh scripts/windows_smoke.sh [WINDOWS_BUILD [LINUX_BUILD]]   (defaults: build-windows, build)
set -eu

windows_build=${1:-build-windows}
linux_build=${2:-build}
exe="$windows_build/trimora.exe"
sim="$linux_build/trimora-sim"
here=$(cd "$(dirname "$0")" && pwd)

for file in "$exe" "$sim"; do
  if [ ! -f "$file" ]; then
    echo "windows smoke: $file is missing (make windows; make build)" >&2
    exit 1
  fi
done

# Only DLLs that every Windows system has: the C++ runtime is linked in statically.
objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null 2>&1 || objdump=objdump
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
if [ -z "$dlls" ]; then
  echo "windows smoke: no imports found in $exe" >&2
  exit 1
fi
bad=0
for dll in $dlls; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | advapi32.dll | ws2_32.dll | wsock32.dll | msvcrt.dll | ucrtbase.dll | \
      api-ms-win-*.dll | ntdll.dll | shell32.dll | ole32.dll) ;;
    *)
      echo "windows smoke: $exe needs $dll, which Windows does not provide" >&2
      bad=1
      ;;
  esac
done
[ "$bad" -eq 0 ] || exit 1
echo "windows smoke: imports only system DLLs:" $dlls

python=${PYTHON:-}
if [ -z "$python" ]; then
  python=$(command -v python3 || true)
fi
if [ -z "$python" ]; then
  echo "windows smoke: python3 is needed for the terminal driver" >&2
  exit 1
fi

driver="$here/windows_smoke.py"
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  echo "windows smoke: running in a loopback-only network namespace"
  exec unshare -rn sh -c 'ip link set lo up && exec "$0" "$@"' "$python" "$driver" "$exe" "$sim"
fi
echo "windows smoke: no network namespace available; the settings file keeps every address on loopback"
exec "$python" "$driver" "$exe" "$sim"

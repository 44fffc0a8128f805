#!/bin/sh
# Checks the Linux packages in a build folder: the .deb unpacks into a scratch root (dpkg -x) with the
# programs, the README and the man page, and the unpacked trimora answers --version; the .tar.gz holds
# the same files. Usage: scripts/package_check.sh [build folder]
set -eu
build=${1:-build}
deb=$(ls "$build"/trimora_*.deb 2>/dev/null | head -n 1)
tgz=$(ls "$build"/trimora-*.tar.gz 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "package_check: no .deb in $build (run make package)" >&2; exit 1; }
[ -n "$tgz" ] || { echo "package_check: no .tar.gz in $build (run make package)" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root/deb"
for f in usr/bin/trimora usr/bin/trimora-sim usr/share/doc/trimora/README.md usr/share/man/man1/trimora.1; do
  [ -e "$root/deb/$f" ] || { echo "package_check: $deb lacks $f" >&2; exit 1; }
done
# Run where no settings file is; --version must not read one or open a socket anyway.
version=$(cd "$root" && "$root/deb/usr/bin/trimora" --version)
expected=$(dpkg-deb -f "$deb" Version)
[ "$version" = "trimora $expected" ] || { echo "package_check: installed trimora --version said '$version'" >&2; exit 1; }
# The man page shows every option of the help.
for option in --help --version --settings --records --yes --quiet --json; do
  grep -q -- "$(echo "$option" | sed 's/-/\\\\-/g')" "$root/deb/usr/share/man/man1/trimora.1" ||
    { echo "package_check: the man page lacks $option" >&2; exit 1; }
done
mkdir "$root/tgz"
tar -xzf "$tgz" -C "$root/tgz"
[ -x "$(find "$root/tgz" -path '*/bin/trimora' | head -n 1)" ] || { echo "package_check: $tgz lacks bin/trimora" >&2; exit 1; }
echo "package_check: $deb and $tgz are whole; the installed trimora --version says '$version'"

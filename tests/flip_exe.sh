#!/usr/bin/env bash
# kel.exe flips a copy of itself between the GUI and the console subsystem
# and back: objdump reads the same Subsystem, and each flipped copy runs.
#   tests/flip_exe.sh path/to/kel.exe
set -euo pipefail
exe=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$exe" "$tmp/kel.exe"
subsystem() { x86_64-w64-mingw32-objdump -p "$tmp/kel.exe" | awk '/^Subsystem/ {print $2}'; }
printf 'Kel [] flip-exe-flag %%kel.exe\n' > "$tmp/flip.kel"
printf 'Kel [] print "ran"\n' > "$tmp/ran.kel"
[ "$(subsystem)" = 00000002 ] || { echo "not a GUI program to start with: $(subsystem)"; exit 1; }
for expected in 00000003 00000002; do
    (cd "$tmp" && KEL_FATAL_TO_STDERR=1 "$root/tools/kel-wine" "$exe" flip.kel)
    [ "$(subsystem)" = "$expected" ] || { echo "Subsystem $(subsystem), expected $expected"; exit 1; }
    out=$(cd "$tmp" && KEL_FATAL_TO_STDERR=1 "$root/tools/kel-wine" ./kel.exe ran.kel)
    [ "$(printf '%s' "$out" | tr -d '\r')" = ran ] || { echo "the flipped copy printed: $out"; exit 1; }
done
echo "flipped both ways"

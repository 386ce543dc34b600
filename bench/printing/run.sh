#!/usr/bin/env bash
# Printing's memory: a 600 dpi A3 colour page printed at actual size to a 600 dpi PDF,
# against the floor of decoding the same page in the same bands without printing, each in
# its own process. Usage: bench/printing/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=${1:-build}/bin/bench_printing
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --make "$dir"
floor=$("$bin" --decode "$dir/a3-600dpi.tif")
print=$("$bin" --print "$dir/a3-600dpi.tif" "$dir/a3.pdf")
echo "$floor"
echo "$print"
f=$(sed -E 's/.*growth ([0-9.]+) MiB/\1/' <<<"$floor")
p=$(sed -E 's/.*growth ([0-9.]+) MiB/\1/' <<<"$print")
awk -v f="$f" -v p="$p" 'BEGIN { printf "print / decode-in-bands floor: %.2f; print / full frame (265.5 MiB): %.2f\n", p / f, p / 265.5 }'

#!/usr/bin/env bash
# The 12-megapixel PNG through libpng (the viewer's decoder), libspng and a whole-buffer
# inflate with libdeflate, in one run, with each one's peak memory beside a quarter of the
# 32-bit frame (the extra memory a faster decoder may take), then the viewer's decode at
# the fit against the libpng floor.
# Usage: bench/imaging/png-decoders.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bin/bench_imaging" --make "$dir" >/dev/null
png="$dir/photo-12mp.png"
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/bench_png_decoders" "$png" 7
echo "peak memory (a 4000 x 3000 frame is 45.8 MiB at 4 bytes a pixel; a quarter is 11.4 MiB):"
for d in libpng libspng libdeflate; do "$build/bin/bench_png_decoders" --peak "$d" "$png"; done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# Imaging benchmarks: decode timings with their ratios to the floors of the same run, then
# the peak memory of showing the 24-megapixel JPEG and the 12-megapixel PNG (each decode in
# its own process, the growth of the peak resident size around it).
# Usage: bench/imaging/run.sh [BUILD_DIR]   (bench/imaging/png.sh runs the PNG part alone)
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=${1:-build}/bin/bench_imaging
export QT_QPA_PLATFORM=offscreen
"$bin" --benchmark_min_time=0.1 --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --make "$dir"
echo
echo "Peak memory (one full 6000 x 4000 frame at 4 bytes a pixel is 96 MB = 91.6 MiB):"
"$bin" --peak "$dir/photo-24mp.jpg" 600 496
"$bin" --peak "$dir/photo-24mp.jpg" 2400 1984
"$bin" --peak "$dir/photo-24mp.jpg" 0 0
"$bin" --peak "$dir/a4-300dpi-g4.tif" 600 496
echo
echo "Peak memory of the 12-megapixel PNG (a full 4000 x 3000 frame is 48 MB = 45.8 MiB at 4 bytes"
echo "a pixel, 34.3 MiB as stored RGB; the goal is growth within a quarter of the 32-bit frame, 11.4 MiB):"
"$bin" --peak "$dir/photo-12mp.png" 600 496
"$bin" --peak "$dir/photo-12mp.png" 2400 1984
"$bin" --peak-libpng "$dir/photo-12mp.png"

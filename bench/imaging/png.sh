#!/usr/bin/env bash
# The 12-megapixel PNG alone: decode start to image ready at the fit and at the widest zoom
# against a plain libpng full decode of the same file in the same run (goal: at most 0.9x),
# then the peak memory of each (goal: growth within a quarter of one 32-bit frame).
# Usage: bench/imaging/png.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
bin=${1:-build}/bin/bench_imaging
export QT_QPA_PLATFORM=offscreen
"$bin" --benchmark_filter='^Png_' --benchmark_min_time=0.1 --benchmark_repetitions=7 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --make "$dir"
echo
echo "Peak memory (a 4000 x 3000 frame is 45.8 MiB at 4 bytes a pixel; a quarter is 11.4 MiB):"
"$bin" --peak "$dir/photo-12mp.png" 600 496
"$bin" --peak "$dir/photo-12mp.png" 2400 1984
"$bin" --peak-libpng "$dir/photo-12mp.png"

#!/usr/bin/env bash
# The viewer window's responsiveness with its decodes on workers, one figure set per run,
# each beside a floor measured in the same run (see ResponsivenessBench.cpp):
#   next      next/back to a prefetched neighbour (24 MP JPEG, A4 G4 page), click to paint
#   pagedown  Page Down to a prefetched page of a 5-page bilevel TIFF
#   gap       longest gap of a 1 ms GUI timer while a 24 MP JPEG decodes in the background
#   burst     ten next clicks 10 ms apart, the tenth picture painted
#   memory    peak memory stepping through twenty 24 MP JPEGs with the default cache budget
#   pageburst ten Page Downs 30 ms apart over 24 MP JPEGs and a 20-page G4 TIFF, the tenth
#             page painted
#   zoom      longest GUI stall wheel-zooming a 48 MP JPEG and a 600 dpi A3 TIFF
#   stripcold the page strip of a 50-page identifier opened cold, every tile in view painted,
#             against the sum of the tiles' decodes shared among the workers, and the longest
#             GUI stall meanwhile seen by a probe thread
#   stripscroll a strip of 1,000 pages scrolled by wheel and keys, the longest GUI stall
# Usage: bench/viewer/responsiveness.sh
#          next|pagedown|gap|burst|memory|pageburst|zoom|stripcold|stripscroll [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
which=${1:?usage: responsiveness.sh next|pagedown|gap|burst|memory|pageburst|zoom|stripcold|stripscroll [BUILD_DIR]}
build=${2:-build}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bin/bench_imaging" --make "$dir" >/dev/null
if [ "$which" = zoom ]; then
  "$build/bin/bench_imaging" --make-zoom "$dir" >/dev/null
fi
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/bench_viewer_live" "$which" "$dir"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

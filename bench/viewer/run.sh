#!/usr/bin/env bash
# The viewer window from NewImage to the first painted image, beside the decoding floors
# of the same run (libtiff scanlines + box filter for the G4 page, libjpeg-turbo at the DCT
# scale for the JPEG, a plain libpng full decode for the 12 MP PNG, all from bench_imaging),
# then the peak memory of showing each.
# Usage: bench/viewer/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bin/bench_imaging" --make "$dir"
flags=(--benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
       --benchmark_out_format=json)
"$build/bin/bench_imaging" --benchmark_filter='(G4|Jpeg)_Floor/fit|Png_LibpngFull/full' "${flags[@]}" \
  --benchmark_out="$dir/floor.json" >/dev/null
"$build/bin/bench_viewer" "$dir" "${flags[@]}" --benchmark_out="$dir/viewer.json" >/dev/null
python3 - "$dir/floor.json" "$dir/viewer.json" <<'PY'
import json, re, sys
med, cpu = {}, {}
for f in sys.argv[1:]:
    for b in json.load(open(f))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = re.sub(r"/\d+$", "", b["run_name"])
            scale = {"ms": 1, "us": 1e-3, "ns": 1e-6}[b["time_unit"]]
            med[name] = b["real_time"] * scale
            cpu[name] = b["cpu_time"] * scale
rows = [("Viewer_NewImageToPaint/g4", "G4_Floor/fit", 1.5),
        ("Viewer_DecodeAtFit/g4", "G4_Floor/fit", 1.5),
        ("Viewer_NewImageToPaint/jpeg", "Jpeg_Floor/fit", 1.2),
        ("Viewer_DecodeAtFit/jpeg", "Jpeg_Floor/fit", 1.2),
        ("Viewer_NewImageToPaint/png", "Png_LibpngFull/full", 0.9),
        ("Viewer_DecodeAtFit/png", "Png_LibpngFull/full", 0.9)]
print("medians of 5, against the floor of the same run (CPU-time ratio in brackets):")
for subject, floor, goal in rows:
    if subject in med and floor in med:
        print(f"  {subject:30s} {med[subject]:7.2f} ms / {floor:14s} {med[floor]:7.2f} ms = "
              f"{med[subject] / med[floor]:.2f}x [{cpu[subject] / cpu[floor]:.2f}x] (goal <= {goal}x)")
PY
echo "Peak memory (one full 6000 x 4000 frame at 4 bytes a pixel is 96 MB = 91.6 MiB):"
"$build/bin/bench_viewer" --peak "$dir" jpeg
"$build/bin/bench_viewer" --peak "$dir" g4
echo "(one full 4000 x 3000 frame at 4 bytes a pixel is 45.8 MiB; goal for the PNG: growth <= 11.4 MiB)"
"$build/bin/bench_viewer" --peak "$dir" png

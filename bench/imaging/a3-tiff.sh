#!/usr/bin/env bash
# One 600 dpi A3 colour scan (7000 x 9900, LZW in strips): the viewer from NewImage to the
# page painted, and the decode at the fit on every core and on one, each against libtiff
# decoding the same file on one thread in the same run (goal for the viewer: <= 0.7x on
# 2 cores). Prints the cores and the load average, which the figures depend on.
# Usage: bench/imaging/a3-tiff.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/bin/bench_imaging" --make-a3 "$dir"
flags=(--benchmark_min_time=0.5 --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
       --benchmark_enable_random_interleaving=true --benchmark_out_format=json)
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/bench_imaging" --a3 "$dir" "${flags[@]}" --benchmark_out="$dir/decode.json" >/dev/null
"$build/bin/bench_viewer" "$dir" --benchmark_filter='Viewer_NewImageToPaint/a3' "${flags[@]}" \
  --benchmark_out="$dir/viewer.json" >/dev/null
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$dir/decode.json" "$dir/viewer.json" <<'PY'
import json, re, sys
med, cpu = {}, {}
for f in sys.argv[1:]:
    for b in json.load(open(f))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = re.sub(r"(/\d+)?(/real_time)?$", "", b["run_name"])
            scale = {"ms": 1, "us": 1e-3, "ns": 1e-6}[b["time_unit"]]
            med[name] = b["real_time"] * scale
            cpu[name] = b["cpu_time"] * scale
floor = "A3_LibtiffOneThread"
print(f"medians of 5, real time, against {floor} {med[floor]:.1f} ms of the same run:")
for subject, goal in [("Viewer_NewImageToPaint/a3", "<= 0.7x"),
                      ("A3_DecodeForDisplay/cores", ""), ("A3_DecodeForDisplay/one", "")]:
    if subject in med:
        print(f"  {subject:28s} {med[subject]:8.1f} ms = {med[subject] / med[floor]:.2f}x"
              f"  (calling thread's CPU {cpu[subject]:.0f} ms)" + (f" (goal {goal})" if goal else ""))
print("The calling thread's CPU time shows the share the other threads took. With the machine's")
print("cores busy (load average above), more threads of one process gain little real time.")
PY

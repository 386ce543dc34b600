#!/usr/bin/env bash
# Start to drawn, seen from outside, against feh in the same run: for each sample (an A4 G4
# page, a 24 MP JPEG, a 600 dpi A3 colour LZW TIFF, a 12 MP PNG) the time from starting the
# program to the last change on the screen larger than a text cursor, after which the screen
# stays still for 3 s (bench/viewer/ScreenSettle.c, X DAMAGE). A page still decoding shows
# only a small spinner, which does not count, so the wait must outlast a slow decode.
# The viewer is started by a live host with the identifier, as a terminal host starts it;
# feh is given the file and a window of the viewer's size, scaled down to fit. Runs
# alternate; medians of RUNS (default 5). SHOTS=DIR keeps what each run ended on.
# Installs feh when it is missing (Debian's package). Goal for the 12 MP PNG: <= 0.6x feh.
# Usage: bench/viewer/start-vs-feh.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
if [ -z "${LV_FEH_INNER:-}" ]; then
  if ! command -v feh >/dev/null; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y feh >/dev/null
  fi
  LV_FEH_INNER=1 exec scripts/with-x "$0" "$@"
fi
bin=$(cd "${1:-build}/bin" && pwd)
[ -x "$bin/screen_settle" ] || { echo "no $bin/screen_settle (needs libxcb-damage0-dev)" >&2; exit 2; }
runs=${RUNS:-5}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin/bench_imaging" --make "$dir" >/dev/null 2>&1
"$bin/bench_imaging" --make-a3 "$dir" >/dev/null 2>&1
export QT_QPA_FONTDIR=${QT_QPA_FONTDIR:-/usr/share/fonts/truetype/dejavu}
# SHOTS=DIR keeps a screenshot of each settled screen there, to check what was timed.
settle() {
  local shot=""
  [ -n "${SHOTS:-}" ] && shot="$SHOTS/$1-$n.png"
  SCREEN_SETTLE_SHOT=$shot "$bin/screen_settle" 3000 60000 2000 "${@:2}" 2>/dev/null | cut -d' ' -f1
}
echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-26s %10s %10s %7s\n" "median of $runs, ms" viewer feh ratio
n=0
for sample in a4-300dpi-g4.tif:tif photo-24mp.jpg:jpg a3-600dpi-lzw.tif:tif photo-12mp.png:png; do
  file=${sample%%:*} ext=${sample##*:}
  scans="$dir/scans-$ext-$n"
  mkdir -p "$scans/1234"
  ln "$dir/$file" "$scans/1234/12345678~1.$ext" # a link of its own name; symlinks are refused
  viewer=() feh=()
  for _ in $(seq "$runs"); do
    n=$((n + 1))
    viewer+=("$(settle viewer "$bin/lumivane-host" serve "lv-feh-$$-$n" \
      --info "{\"Source\":\"$scans/\",\"Pattern\":\"****....\"}" \
      --viewer "$bin/lumivane-viewer" 12345678)")
    feh+=("$(settle feh feh -g 800x500 --scale-down "$dir/$file")")
  done
  python3 - "$file" "${viewer[*]}" "${feh[*]}" <<'PY'
import statistics, sys
name, v, f = sys.argv[1], [float(x) for x in sys.argv[2].split()], [float(x) for x in sys.argv[3].split()]
mv, mf = statistics.median(v), statistics.median(f)
print(f"{name:26s} {mv:10.1f} {mf:10.1f} {mv / mf:6.2f}x")
PY
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

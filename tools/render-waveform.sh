#!/usr/bin/env bash
# Renders the first test message's waveform, as GTKWave shows the simulator's
# own VCD, into a PNG. Needs gtkwave, xvfb and imagemagick (Debian packages).
# Usage: tools/render-waveform.sh [out.png]   (default docs/waveform.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/waveform.png}
for tool in gtkwave xvfb-run import; do
    command -v "$tool" >/dev/null || { echo "render-waveform: needs $tool" >&2; exit 2; }
done

cmake --preset default >/dev/null
cmake --build --preset default --target varkel-sim >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build/default/varkel-sim --time virtual --vcd "$work/run.vcd" >/dev/null 2>&1
# Keep the first message only (it ends before 60 us), closed by a timestamp.
awk '/^#/ { if (substr($0, 2) + 0 > 60000) { print "#60000"; exit } } { print }' "$work/run.vcd" >"$work/first-message.vcd"

cat >"$work/view.tcl" <<'TCL'
gtkwave::addSignalsFromList {ssp.sclk ssp.sfrm ssp.txd ssp.rxd}
gtkwave::setZoomRangeTimes 1000 60000
TCL
out=$(realpath -m "$out")
cd "$work"  # so the window's title names the file alone
xvfb-run -a -s "-screen 0 1400x300x24" sh -c "
    gtkwave --rcvar 'splash_disable on' --rcvar 'hide_sst on' --rcvar 'initial_window_x 1400' \
        --rcvar 'initial_window_y 300' -S view.tcl first-message.vcd >/dev/null 2>&1 &
    sleep 4
    import -window root screen.png
    kill \$!"
cp screen.png "$out"
echo "render-waveform: wrote $out"

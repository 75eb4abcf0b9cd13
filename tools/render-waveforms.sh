#!/usr/bin/env bash
# Renders what a person sees of the simulated wire into the README's
# pictures: GTKWave opening varkel-sim's save file (docs/waveform.png), and
# PulseView with its SPI decoder on a windowed dump (docs/pulseview.png).
# Needs gtkwave, pulseview, xvfb and imagemagick (Debian packages).
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in gtkwave pulseview xvfb-run import; do
    command -v "$tool" >/dev/null || { echo "render-waveforms: needs $tool" >&2; exit 2; }
done
cmake --preset sim >/dev/null
cmake --build --preset sim --target varkel-sim >/dev/null
work=$(mktemp -d)
trap 'sleep 1; rm -rf "$work"' EXIT  # the viewers may still be writing their settings
export HOME=$work XDG_CONFIG_HOME=$work  # the viewers' own settings stay out of it

# GTKWave: the save file written beside the dump, as a user would open it.
build/sim/varkel-sim --time virtual --quiet --vcd "$work/run.vcd" --vcd-window 0:0.0001 2>/dev/null
xvfb-run -a -s "-screen 0 1400x420x24" sh -c "
    gtkwave --rcvar 'splash_disable on' '$work/run.gtkw' >/dev/null 2>&1 &
    sleep 5; import -window root '$work/gtkwave.png'; kill \$!"
cp "$work/gtkwave.png" docs/waveform.png

# PulseView: the second message, opened with no import options; the
# session file only adds the SPI decoder and a zoom.
build/sim/varkel-sim --time virtual --quiet --vcd "$work/second.vcd" --vcd-window 0.99998:1.0001 2>/dev/null
xvfb-run -a -s "-screen 0 1400x420x24" sh -c "
    pulseview -geometry 1400x420+0+0 -s tools/pulseview/spi.pvs '$work/second.vcd' >/dev/null 2>&1 &
    sleep 10; import -window root '$work/pulseview.png'; kill \$!"
cp "$work/pulseview.png" docs/pulseview.png
echo "render-waveforms: wrote docs/waveform.png and docs/pulseview.png"

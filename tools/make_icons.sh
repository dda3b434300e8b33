#!/usr/bin/env bash
# Renders the desktop icon sizes from packaging/icons/pelorinax.svg; the PNGs are
# committed, so building needs no SVG renderer. Run after changing the SVG:
#   apt-get install librsvg2-bin && bash tools/make_icons.sh
# The output is byte for byte the same on every run with the same librsvg.
set -euo pipefail
icons="$(cd "$(dirname "$0")/../packaging/icons" && pwd)"
command -v rsvg-convert > /dev/null || { echo "make_icons.sh: rsvg-convert not found (apt-get install librsvg2-bin)" >&2; exit 1; }
for n in 32 48 128 256; do
    mkdir -p "$icons/${n}x${n}"
    rsvg-convert --width "$n" --height "$n" --keep-aspect-ratio "$icons/pelorinax.svg" -o "$icons/${n}x${n}/pelorinax.png"
done
echo "rendered $(rsvg-convert --version) into $icons"

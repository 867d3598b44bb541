#!/usr/bin/env bash
# Draws korvi's icons with ImageMagick: one .ico each, with a picture drawn for every size a
# tray or a title bar draws (16 to 64 px, and 256 px stored as PNG), so that none is scaled.
# Answered and not answered differ by shape as well as colour: a disc with a tick against a
# square with a cross.
set -euo pipefail
(($# == 0)) || { echo "draw-icons: takes no arguments (given: $*)" >&2; exit 2; }
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
calc() { python3 -c "s=$1; print(f\"$2\")"; }
sizes=(16 20 24 32 40 48 64 256)
for s in "${sizes[@]}"; do
  edge=$(calc "$s" '{max(1, s / 16)}')
  pen=$(calc "$s" '{s / 8}')
  convert -size "${s}x${s}" xc:none \
    -fill '#1f9d3a' -stroke '#0b5e1f' -strokewidth "$edge" \
    -draw "circle $(calc "$s" '{s/2-0.5},{s/2-0.5} {s/2-0.5},{s*0.03}')" \
    -fill none -stroke white -strokewidth "$pen" \
    -draw "stroke-linecap round stroke-linejoin round polyline $(calc "$s" '{s*0.28},{s*0.52} {s*0.44},{s*0.68} {s*0.72},{s*0.36}')" \
    "$tmp/up-$s.png"
  convert -size "${s}x${s}" xc:none \
    -fill '#c62828' -stroke '#7f0000' -strokewidth "$edge" \
    -draw "rectangle $(calc "$s" '{s*0.09},{s*0.09} {s*0.91-1},{s*0.91-1}')" \
    -fill none -stroke white -strokewidth "$pen" \
    -draw "line $(calc "$s" '{s*0.3},{s*0.3} {s*0.7-1},{s*0.7-1}')" \
    -draw "line $(calc "$s" '{s*0.7-1},{s*0.3} {s*0.3},{s*0.7-1}')" \
    "$tmp/down-$s.png"
  convert -size "${s}x${s}" xc:none \
    -fill none -stroke '#6b6b6b' -strokewidth "$pen" \
    -draw "circle $(calc "$s" '{s/2-0.5},{s/2-0.5} {s/2-0.5},{s*0.17}')" \
    -draw "line $(calc "$s" '{s*0.36},{s/2-0.5} {s*0.64-1},{s/2-0.5}')" \
    "$tmp/neutral-$s.png"
done
for name in up down neutral; do
  # BMP pictures up to 64 px (what every reader knows), PNG for 256 px.
  convert $(printf "$tmp/$name-%s.png " "${sizes[@]}") "korvi-$name.ico"
done

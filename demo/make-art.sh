#!/usr/bin/env bash
# Renders the wizard demo's pictures with ImageMagick into demo/art/ (or the
# folder given): scripts/demo.sh runs it before it builds demo/wizard.ini.
#   side.bmp       welcome and completion pages' picture column, 164 x 314
#   header.bmp     inner pages' header picture, 49 x 49 (shown as it is)
#   wallpaper.bmp  a payload file, large enough that the package splits
# Usage: demo/make-art.sh [folder]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/art}
mkdir -p "$out"

# A parcel: a box with a lid and a strap, drawn in a 100 x 100 square.
parcel='fill #f4c26b stroke #8a5a17 stroke-width 3
  polygon 18,40 50,26 82,40 82,78 50,92 18,78
  fill #e0a848 polygon 18,40 50,54 50,92 18,78
  fill #f8d591 polygon 18,40 50,26 82,40 50,54
  stroke #b23a2a stroke-width 6 line 34,33 66,47 line 66,47 66,85'

# Windows reads 24-bit BMP3 files bottom-up, as ImageMagick writes them.
convert -size 164x314 gradient:'#0b3d91-#5b8fd6' \
  \( -size 100x100 xc:none -draw "$parcel" -resize 120x120 \) \
  -gravity north -geometry +0+46 -composite \
  -type TrueColor BMP3:"$out/side.bmp"
convert -size 49x49 xc:white \
  \( -size 100x100 xc:none -draw "$parcel" -resize 45x45 \) \
  -gravity center -composite -type TrueColor BMP3:"$out/header.bmp"
# Fractal noise hardly compresses: the payload stays about 520 KB.
convert -seed 7 -size 480x360 plasma:'#1d4e89-#f4c26b' -type TrueColor BMP3:"$out/wallpaper.bmp"

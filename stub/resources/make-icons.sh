#!/usr/bin/env bash
# Renders the stub's three icons from the drawings in art/ with ImageMagick
# and writes them beside this script. The .ico files are committed, so a
# build needs no ImageMagick; run this again after changing a drawing.
#   app.ico       icon group 0: the program (16 and 32 pixels: what the window
#                 and the task bar show; larger views scale the 32)
#   volume.ico    icon group 100: the next-volume prompt (32 pixels)
#   password.ico  icon group 200: the password prompt (32 pixels)
# Every image is a 16-colour bitmap with its own palette and a transparency
# mask: an eighth of a 32-bit image's bytes (every package carries them), and
# read by every Windows the stub runs on (Windows XP reads no PNG entries).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ImageMagick's policy may refuse "@file" arguments, so the drawing goes in
# as text, without its comment lines. Out comes raw RGBA in at most 15
# colours, undithered (the 16th is the masked pixels' black).
render() {  # drawing size output
  convert -size 256x256 xc:none -draw "$(grep -v '^#' "$here/art/$1.mvg")" \
    -filter Lanczos -resize "$2x$2" +dither -colors 15 -depth 8 "RGBA:$3"
}

# Writes an icon file of 4-bit images from raw RGBA frames; a pixel less than
# half opaque is masked out.
write_icon() {  # output size:rgba-file...
  python3 - "$@" <<'PY'
import struct, sys

def bitmap(size, rgba):
    palette, index, rows, masks = [], {}, [], []
    for y in reversed(range(size)):  # bitmaps run bottom-up
        row, mask = bytearray((size + 7) // 8 * 4), bytearray((size + 31) // 32 * 4)
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            if a < 128:
                r = g = b = 0
                mask[x // 8] |= 0x80 >> (x % 8)
            row[x // 2] |= index.setdefault((b, g, r), len(index)) << (0 if x % 2 else 4)
        rows.append(bytes(row))
        masks.append(bytes(mask))
    assert len(index) <= 16, "more than 16 colours"
    colours = b"".join(bytes((b, g, r, 0)) for b, g, r in index) + bytes(4 * (16 - len(index)))
    # Height counts image and mask; the colour count stays 0 (a full palette).
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 0, 0)
    return header + colours + b"".join(rows) + b"".join(masks)

images = []
for frame in sys.argv[2:]:
    size, path = frame.split(":", 1)
    images.append((int(size), bitmap(int(size), open(path, "rb").read())))
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, image in images:
    out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
    offset += len(image)
open(sys.argv[1], "wb").write(out + b"".join(image for _, image in images))
PY
}

icon() {  # drawing output sizes...
  local name=$1 out=$2 frames=()
  shift 2
  for size in "$@"; do
    render "$name" "$size" "$work/$name-$size.rgba"
    frames+=("$size:$work/$name-$size.rgba")
  done
  write_icon "$here/$out" "${frames[@]}"
}

icon app app.ico 16 32
icon volume volume.ico 32
icon password password.ico 32
ls -l "$here"/*.ico

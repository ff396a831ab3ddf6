#!/usr/bin/env bash
# Renders the stub's three icons from the drawings in art/ with ImageMagick
# and writes them beside this script. The .ico files are committed, so a
# build needs no ImageMagick; run this again after changing a drawing.
#   app.ico       icon group 0: the program (16, 32 and 48 pixels)
#   volume.ico    icon group 100: the next-volume prompt (32 pixels)
#   password.ico  icon group 200: the password prompt (32 pixels)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ImageMagick's policy may refuse "@file" arguments, so the drawing goes in
# as text, without its comment lines.
render() {  # drawing size output
  convert -size 256x256 xc:none -draw "$(grep -v '^#' "$here/art/$1.mvg")" \
    -filter Lanczos -resize "$2x$2" "PNG32:$3"
}

icon() {  # drawing output sizes...
  local name=$1 out=$2 frames=()
  shift 2
  for size in "$@"; do
    render "$name" "$size" "$work/$name-$size.png"
    frames+=("$work/$name-$size.png")
  done
  convert "${frames[@]}" "$here/$out"
}

icon app app.ico 16 32 48
icon volume volume.ico 32
icon password password.ico 32
ls -l "$here"/*.ico

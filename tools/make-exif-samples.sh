#!/usr/bin/env bash
# Writes tests/data/exif/: tiny JPEG files tagged as cameras tag them (one ISO rating and a list
# of two, the time taken, a position in each hemisphere), for the Info panel's tests. The tests
# read the committed files; this script is only needed to make them again. It needs ImageMagick
# and exiftool (Debian: imagemagick, libimage-exiftool-perl).
set -euo pipefail
out="$(dirname "$0")/../tests/data/exif"
mkdir -p "$out"
base=$(mktemp --suffix=.jpg)
trap 'rm -f "$base"' EXIT
convert -size 16x12 xc:gray -quality 80 "$base"
cp "$base" "$out/camera-single-iso.jpg"
exiftool -q -overwrite_original -Make="Kestrel Optics" -Model="KX-1" -ISO=200 \
    -DateTimeOriginal="2023:06:14 18:42:07" -GPSLatitude=48.8582222 -GPSLatitudeRef=N \
    -GPSLongitude=2.2945 -GPSLongitudeRef=E "$out/camera-single-iso.jpg"
cp "$base" "$out/camera-iso-list.jpg"
exiftool -q -overwrite_original -Make="Kestrel Optics" -ISO="1600, 3200" \
    -DateTimeOriginal="1999:12:31 23:59:59" -GPSLatitude=33.8568 -GPSLatitudeRef=S \
    -GPSLongitude=151.2153 -GPSLongitudeRef=W "$out/camera-iso-list.jpg"
# What the tests expect is what exiftool reports:
exiftool -s -ISO -DateTimeOriginal -GPSPosition "$out"/camera-*.jpg

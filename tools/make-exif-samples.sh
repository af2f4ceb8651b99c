#!/usr/bin/env bash
# Writes tests/data/exif/: tiny JPEG files tagged as cameras tag them (one ISO rating and a list
# of two, the time taken, a position in each hemisphere and one that names none, values the camera
# did not know, a manual lens, blank names, the facts in XMP alone), for the Info panel's tests.
# The tests read the committed files; this script is only needed to make them again. It needs
# ImageMagick, exiftool and exiv2 (Debian: imagemagick, libimage-exiftool-perl, exiv2).
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
# Values a camera writes when it does not know them (a zero denominator).
cp "$base" "$out/camera-unknown-values.jpg"
exiv2 -M"set Exif.Image.Make Ascii Kestrel Optics" -M"set Exif.Photo.FNumber Rational 1/0" \
    -M"set Exif.Photo.ExposureBiasValue SRational 7/0" -M"set Exif.Photo.BrightnessValue SRational -1/0" \
    -M"set Exif.Photo.ExposureTime Rational 1/320" \
    -M"set Exif.GPSInfo.GPSLatitudeRef Ascii N" -M"set Exif.GPSInfo.GPSLatitude Rational 48/1 51/0 29/1" \
    -M"set Exif.GPSInfo.GPSLongitudeRef Ascii E" -M"set Exif.GPSInfo.GPSLongitude Rational 2/1 17/1 40/1" \
    "$out/camera-unknown-values.jpg"
# A position whose file names no hemisphere (no reference letters), as some phones' apps write it.
cp "$base" "$out/camera-position-no-refs.jpg"
exiv2 -M"set Exif.GPSInfo.GPSLatitude Rational 34/1 3/1 0/1" -M"set Exif.GPSInfo.GPSLongitude Rational 118/1 15/1 0/1" \
    "$out/camera-position-no-refs.jpg"
# The camera's facts in the XMP packet only, as programs that export or edit photos often keep them.
cp "$base" "$out/camera-xmp-only.jpg"
exiftool -q -overwrite_original -XMP-tiff:Make="Kestrel Optics" -XMP-exif:FNumber=4 -XMP-exif:ExposureTime=1/60 \
    -XMP-exif:DateTimeOriginal="2020:02:03 04:05:06" -XMP-exif:GPSLatitude="33 51 24.5 S" \
    -XMP-exif:GPSLongitude="151 12 55.1 W" "$out/camera-xmp-only.jpg"
# A manual lens on a camera: no aperture, focal length or ISO rating known, written as 0.
cp "$base" "$out/camera-manual-lens.jpg"
exiv2 -M"set Exif.Photo.FNumber Rational 0/1" -M"set Exif.Photo.FocalLength Rational 0/1" \
    -M"set Exif.Photo.ISOSpeedRatings Short 0" -M"set Exif.Photo.ExposureTime Rational 1/125" \
    "$out/camera-manual-lens.jpg"
# A camera that fills the names it does not know with blanks.
cp "$base" "$out/camera-blank-names.jpg"
exiv2 -M'set Exif.Image.Make Ascii Kestrel Optics' -M'set Exif.Image.Model Ascii "        "' \
    -M'set Exif.Photo.LensModel Ascii "                "' "$out/camera-blank-names.jpg"
# Names holding control characters: a terminal's colour escape, a tab and a line break.
cp "$base" "$out/camera-control-characters.jpg"
exiv2 -M$'set Exif.Image.Make Ascii Kes\x01trel\x1b[1m Optics' -M$'set Exif.Image.Model Ascii KX\x7f-9' \
    -M$'set Exif.Photo.LensModel Ascii KX\t24mm\nF5.6' "$out/camera-control-characters.jpg"
# What the tests expect is what exiftool reports:
exiftool -s -ISO -DateTimeOriginal -GPSPosition "$out"/camera-*.jpg

#!/usr/bin/env bash
# make package's Debian package: its control fields and its file list under /usr.
# Usage: package_test.sh <build folder>
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v dpkg-deb >/dev/null || { echo "SKIPPED: no dpkg-deb" >&2; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
( cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1 ) || fail "cpack: $(tail -20 "$work/cpack.log")"
deb=$(ls "$work"/kestrane-viewer_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no package written: $(tail -20 "$work/cpack.log")"

[ "$(dpkg-deb -f "$deb" Package)" = kestrane-viewer ] || fail "Package field"
[ "$(dpkg-deb -f "$deb" Section)" = graphics ] || fail "Section field"
[ -n "$(dpkg-deb -f "$deb" Version)" ] || fail "no Version"
[ -n "$(dpkg-deb -f "$deb" Architecture)" ] || fail "no Architecture"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo libpng16-16 qt6-qpa-plugins xdg-utils; do
    grep -q "\b$dep\b" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for f in /usr/bin/kestrane-viewer /usr/share/kestrane-viewer/Info.json /usr/share/kestrane-viewer/strings/en.strings \
         /usr/share/applications/org.kestrane.viewer.desktop /usr/share/metainfo/org.kestrane.viewer.metainfo.xml \
         /usr/share/man/man1/kestrane-viewer.1 /usr/share/icons/hicolor/scalable/apps/org.kestrane.viewer.svg \
         /usr/share/icons/hicolor/48x48/apps/org.kestrane.viewer.png; do
    grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
outside=$(grep -v -e '^/usr/' -e '^/$' "$work/files" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
dpkg-deb -x "$deb" "$work/root"
grep -qx 'Exec=/usr/bin/kestrane-viewer %F' "$work/root/usr/share/applications/org.kestrane.viewer.desktop" ||
    fail "the entry does not start /usr/bin/kestrane-viewer"
echo "package ok"

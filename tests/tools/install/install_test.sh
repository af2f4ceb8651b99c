#!/usr/bin/env bash
# make install's tree: every file in its place, the desktop entry and the metainfo accepted by
# the desktop's validators, the program started from another prefix than it was installed to
# (it finds its resources beside itself) and showing its window, then make uninstall leaving
# none of its files nor the folders it made, though the package was built from the same tree
# meanwhile, and touching no file of another root nor a folder that was there before. Usage: install_test.sh <build folder> <source folder>
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root=$work/root
prefix=/opt/kestrane\ test
# The make targets a user types, on the build at hand (not built again here).
make_target() { make -s -C "$source" -o build-viewer RELEASE_DIR="$build" "$@"; }
tree=$root$prefix
# Folders that were there before the install: one empty, one with another program's entry.
mkdir -p "$tree/share/man/man1" "$tree/share/applications"
echo '[Desktop Entry]' >"$tree/share/applications/other.desktop"
make_target install DESTDIR="$root" PREFIX="$prefix" >"$work/install.log" 2>&1 ||
    fail "make install: $(cat "$work/install.log")"

for f in bin/kestrane-viewer share/kestrane-viewer/Info.json share/kestrane-viewer/strings/en.strings \
         share/kestrane-viewer/appicon/app_icon.png share/applications/org.kestrane.viewer.desktop \
         share/metainfo/org.kestrane.viewer.metainfo.xml share/man/man1/kestrane-viewer.1 \
         share/icons/hicolor/scalable/apps/org.kestrane.viewer.svg; do
    [ -s "$tree/$f" ] || fail "$f was not installed"
done
for size in 16 22 24 32 48 64 96 128 256 512; do
    png=$tree/share/icons/hicolor/${size}x${size}/apps/org.kestrane.viewer.png
    [ -s "$png" ] || fail "no ${size}px icon"
    identify -format '%wx%h' "$png" | grep -qx "${size}x${size}" || fail "the ${size}px icon is $(identify -format '%wx%h' "$png")"
done
[ -n "$(find "$tree/share/kestrane-viewer/skin" -name '*.png' | head -1)" ] || fail "no skin images"
[ -n "$(find "$tree/share/kestrane-viewer/SSThemes" -type f | head -1)" ] || fail "no slideshow themes"
[ -z "$(find "$tree" -name .stamp)" ] || fail "build stamps were installed"

# The entry starts the installed program, quoted because the prefix has a space, on all files.
entry=$tree/share/applications/org.kestrane.viewer.desktop
grep -qx 'Exec="/opt/kestrane test/bin/kestrane-viewer" %F' "$entry" || fail "Exec line: $(grep ^Exec "$entry")"
grep -q '^MimeType=.*image/jpeg;.*image/png;' "$entry" || fail "MimeType line: $(grep ^MimeType "$entry")"
grep -qx 'Icon=org.kestrane.viewer' "$entry" || fail "no Icon line"
# Without the reserved characters a space brings, the program's path is written bare: the generic
# opener of desktops without a session of their own takes the first word as the program.
DESTDIR=$work/plain cmake --install "$build" --prefix /opt/kestrane >/dev/null || fail "install to /opt/kestrane"
grep -qx 'Exec=/opt/kestrane/bin/kestrane-viewer %F' "$work/plain/opt/kestrane/share/applications/org.kestrane.viewer.desktop" ||
    fail "Exec line: $(grep ^Exec "$work/plain/opt/kestrane/share/applications/org.kestrane.viewer.desktop")"
rm -rf "$work/plain"
# A file manager offers the viewer for every kind of picture it opens: the entry lists the type
# the desktop gives each such file name.
if [ -r /usr/share/mime/globs ]; then
    for ext in jpg png gif bmp tif webp jp2 ico cr2 nef dng dcr ppm pgm pbm pnm xbm xpm tga icns wbmp cur; do
        type=$(grep -i ":\*\.$ext\$" /usr/share/mime/globs | head -1 | cut -d: -f1 || true)
        [ -z "$type" ] || grep -q "^MimeType=\(.*;\)\?$type;" "$entry" || fail "the entry does not offer .$ext ($type)"
    done
fi

missing_tools=
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate refused the entry"
else
    missing_tools="$missing_tools desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$tree/share/metainfo/org.kestrane.viewer.metainfo.xml" ||
        fail "appstreamcli refused the metainfo"
else
    missing_tools="$missing_tools appstreamcli"
fi
head -1 "$tree/share/man/man1/kestrane-viewer.1" | grep -q '^\.TH KESTRANE-VIEWER 1' || fail "man page header"
grep -q '^\.SH EXIT STATUS' "$tree/share/man/man1/kestrane-viewer.1" || fail "man page has no exit status"

# Moved elsewhere, the program still finds its resources: it answers, and it shows its window.
moved=$work/elsewhere
cp -a "$tree" "$moved"
"$moved/bin/kestrane-viewer" --version | grep -q '^kestrane-viewer (Kestrane Photo Viewer) ' || fail "--version"
mkdir -p "$work/home" "$work/tmp" "$work/run" "$work/photos"
chmod 700 "$work/run"
# The picture maker reads its own keywords by the locale: in Turkish "gradient" is not one.
LC_ALL=C convert -size 64x48 gradient:red-blue "$work/photos/a.jpg"
if [ -z "${DISPLAY:-}" ] || ! command -v xdotool >/dev/null; then
    echo "SKIPPED: no X display or no xdotool to see the installed program's window" >&2
    exit 77
fi
HOME=$work/home TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config \
    XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache KPV_RESOURCES_DIR= \
    "$moved/bin/kestrane-viewer" "$work/photos/a.jpg" >"$work/run.log" 2>&1 &
pid=$!
window=
for _ in $(seq 1 600); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the installed program ended: $(cat "$work/run.log")"
    sleep 0.1
done
[ -n "$window" ] || fail "the installed program showed no window: $(cat "$work/run.log")"
title=$(xdotool getwindowname "$window")
case "$title" in *"Kestrane Photo Viewer"*) ;; *) fail "window title \"$title\"" ;; esac
! grep -q 'Bundle:' "$work/run.log" || fail "resource warnings: $(cat "$work/run.log")"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

# The package is built from the same tree meanwhile: it installs the tree again, under /usr in
# a staging root of its own.
pkgroot=$work/package-root
DESTDIR=$pkgroot cmake --install "$build" --prefix /usr >/dev/null || fail "the package's install"
# An uninstall under another root than the install's removes nothing there, nor in the tree.
! make_target uninstall DESTDIR="$pkgroot" >"$work/uninstall.log" 2>&1 || fail "uninstall under the package's root went through"
# CMake wraps a long message (a long TMPDIR makes it long) across lines.
tr -s ' \n' '  ' < "$work/uninstall.log" | grep -q "nothing was removed" || fail "the refused uninstall said: $(cat "$work/uninstall.log")"
[ -s "$pkgroot/usr/bin/kestrane-viewer" ] && [ -s "$tree/bin/kestrane-viewer" ] || fail "the refused uninstall removed files"
# Uninstalling removes every file the install put in its root, and the program's own folder, and
# nothing of the package's.
make_target uninstall >"$work/uninstall.log" 2>&1 || fail "make uninstall: $(cat "$work/uninstall.log")"
left=$(find "$root" \( -type f -o -type l \) ! -path "$tree/share/applications/other.desktop")
[ -z "$left" ] || fail "left after uninstall: $left"
[ ! -e "$tree/share/kestrane-viewer" ] || fail "the resource folder was left"
[ -s "$pkgroot/usr/bin/kestrane-viewer" ] || fail "the uninstall removed the package's files"
# The folders the install made go too; those that were there before stay, empty or not.
left=$(find "$tree" -mindepth 1 -type d ! -path "$tree/share" ! -path "$tree/share/man" ! -path "$tree/share/man/man1" \
       ! -path "$tree/share/applications")
[ -z "$left" ] || fail "folders left after uninstall: $left"
[ -d "$tree/share/man/man1" ] && [ -s "$tree/share/applications/other.desktop" ] || fail "the uninstall removed what was there before"
# A direct install into a new prefix, which tells the menus of its entry, leaves nothing behind.
make_target install PREFIX="$work/direct/kpv" >"$work/install.log" 2>&1 || fail "make install: $(cat "$work/install.log")"
make_target uninstall >"$work/uninstall.log" 2>&1 || fail "make uninstall: $(cat "$work/uninstall.log")"
[ ! -e "$work/direct/kpv" ] || fail "left after uninstall: $(find "$work/direct/kpv")"

if [ -n "$missing_tools" ]; then
    echo "SKIPPED: not validated, missing:$missing_tools" >&2
    exit 77
fi
echo "install tree ok"

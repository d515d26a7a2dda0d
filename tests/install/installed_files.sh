#!/bin/sh
# Installs the build into a staging folder and checks what a desktop and a
# package manager see: both programs, the desktop entry (desktop-file-validate),
# the icon in the hicolor theme, the AppStream metainfo (appstreamcli validate
# --no-net) and the man pages; the installed kelvox still carries its version
# record and answers --version without a display.
#
#   installed_files.sh BUILD_DIR
set -eu
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cmake --install "$build" --prefix "$stage/usr" >/dev/null
app=org.example.kelvox
share=$stage/usr/share
status=0
fail() {
  echo "installed_files: $*" >&2
  status=1
}

for f in bin/kelvox bin/kelvox-render; do
  [ -x "$stage/usr/$f" ] || fail "$f is not installed"
done

desktop=$share/applications/$app.desktop
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refused $desktop"
  grep -qx 'Exec=kelvox %f' "$desktop" || fail "the desktop entry does not run 'kelvox %f'"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ "$icon" = "$app" ] || fail "the desktop entry's icon is '$icon'"
else
  fail "no desktop entry $desktop"
fi

for size in 48 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/$app.png
  if [ -f "$png" ]; then
    got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png")
    [ "$got" = "${size}x${size}" ] || fail "$png is $got"
  else
    fail "no ${size}x${size} icon"
  fi
done

metainfo=$share/metainfo/$app.metainfo.xml
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo" >&2 || true
    fail "appstreamcli refused $metainfo"
  }
  grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app.desktop"
  grep -q '@KELVOX_' "$metainfo" && fail "the metainfo's version or release date was not filled in"
  grep -q '<release version="[0-9.]*" date="[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]"/>' "$metainfo" ||
    fail "the metainfo's release has no date of its own"
else
  fail "no metainfo $metainfo"
fi

for page in kelvox kelvox-render; do
  man=$share/man/man1/$page.1.gz
  if [ -f "$man" ]; then
    warnings=$(gzip -dc "$man" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1 || true)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
    gzip -dc "$man" | grep -q "^\.SH NAME" || fail "$page.1 has no NAME section"
  else
    fail "no man page $page.1.gz"
  fi
done

version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/usr/bin/kelvox" --version) ||
  fail "the installed kelvox --version failed"
case $version in
  "kelvox "[0-9]*.[0-9]*.[0-9]*.[0-9]*) ;;
  *) fail "the installed kelvox --version printed '$version'" ;;
esac

[ $status -eq 0 ] && echo "installed_files: $(cd "$stage" && find . -type f | wc -l) files installed and valid; $version"
exit $status

#!/usr/bin/env bash
# A staged install (DESTDIR) of the build, checked as a desktop sees it:
# every file where it belongs and nothing else, icons of the size their
# folder names, the desktop entry and the AppStream file accepted by their
# validators and naming each other, manuals that troff reads without a
# warning, and installed programs that answer --version and paint a picture.
#
# Usage: install_test.sh BUILD_DIR APPLICATION_ID VERSION
set -euo pipefail

build=$1
id=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

for tool in desktop-file-validate appstreamcli file groff; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "install: $tool is missing; scripts/install-deps.sh installs it" >&2
    exit 1
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install: FAIL: $*" >&2
  exit 1
}

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}
root="$work/stage/usr"

# Exactly the expected files.
sed "s/@ID@/$id/g" "$here/installed_files.txt" | sort >"$work/expected"
(cd "$root" && find . -type f -printf '%P\n' | sort) >"$work/actual"
diff -u "$work/expected" "$work/actual" || fail "the installed tree differs from the list above"

for side in 16 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${side}x${side}/apps/$id.png"
  file -b "$png" | grep -q "^PNG image data, $side x $side," || fail "$png is $(file -b "$png")"
done
file -b "$root/share/icons/hicolor/scalable/apps/$id.svg" | grep -q "SVG" || fail "the scalable icon is no SVG"

desktop="$root/share/applications/$id.desktop"
metainfo="$root/share/metainfo/$id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $metainfo"

entry() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(entry Icon)" = "$id" ] || fail "the desktop entry's icon is '$(entry Icon)', not $id"
[ -x "$root/bin/$(entry Exec)" ] || fail "the desktop entry starts '$(entry Exec)', which is not installed"
[ "$(entry Categories)" = "Graphics;2DGraphics;RasterGraphics;" ] || fail "categories are '$(entry Categories)'"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the AppStream file does not launch $id.desktop"
for binary in pictovance pictovance-render; do
  grep -q "<binary>$binary</binary>" "$metainfo" || fail "the AppStream file does not provide $binary"
done

for page in pictovance pictovance-render; do
  gzip -dc "$root/share/man/man1/$page.1.gz" | groff -man -ww -z 2>"$work/groff.log"
  [ ! -s "$work/groff.log" ] || fail "troff warns about $page(1): $(cat "$work/groff.log")"
  [ "$("$root/bin/$page" --version)" = "$page $version" ] || fail "$page --version says '$("$root/bin/$page" --version)'"
done

# The installed renderer paints: no file of the build folder is needed.
path=$("$root/bin/pictovance-render" --seed 11 --size 320x200 --out "$work/out")
file -b "$path" | grep -q "^PNG image data, 320 x 200," || fail "the installed renderer wrote $(file -b "$path")"
echo "install: OK"

#!/usr/bin/env bash
# The Debian package that `cpack -G DEB` makes from the build: its name, its
# file list (the installed tree under /usr), its control fields with the
# dependencies dpkg-shlibdeps found (and the platform plugins, Wayland's
# among them), that lintian finds no error and no warning in it, and that
# apt on this system would install it.
#
# Usage: package_test.sh BUILD_DIR APPLICATION_ID VERSION
set -euo pipefail

build=$1
id=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps dpkg-parsechangelog apt-get lintian; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "package: $tool is missing; scripts/install-deps.sh installs it" >&2
    exit 1
  }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package: FAIL: $*" >&2
  exit 1
}

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack failed"
}
deb="$work/pictovance_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") in $(ls "$work")"

sed "s/@ID@/$id/g; s|^|usr/|" "$here/installed_files.txt" | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort >"$work/actual"
diff -u "$work/expected" "$work/actual" || fail "the package's files differ from the installed tree"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pictovance ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = graphics ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"
depends=$(field Depends)
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
# The libraries the programs link, as dpkg-shlibdeps names them (OpenCV's
# carry their version in the name), and the platform plugins it cannot see.
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libopencv-core libopencv-imgproc \
  libimagequant0 qt6-qpa-plugins qt6-wayland; do
  awk -v p="$package" 'index($0, p) == 1 { found = 1 } END { exit !found }' <<<"$names" ||
    fail "Depends lacks $package: $depends"
done

# The binaries are stripped, so the package stays small.
dpkg-deb -x "$deb" "$work/x"
file -b "$work/x/usr/bin/pictovance-render" | grep -q ", stripped" || fail "pictovance-render is not stripped"
changelog_version=$(gzip -dc "$work/x/usr/share/doc/pictovance/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog_version" = "$version" ] || fail "the changelog's last entry is $changelog_version, not $version"

# lintian, with its informational tags too: any error or warning fails, and
# so do the hardening notes and unneeded sections, which lintian counts as
# information only; every tag is printed.
lintian --display-info --tag-display-limit 0 --fail-on none "$deb" >"$work/lintian.log" 2>&1 || {
  cat "$work/lintian.log" >&2
  fail "lintian could not check the package"
}
tags=$(grep -E '^[A-Z]: ' "$work/lintian.log" || true)
echo "lintian: ${tags:-no tags}"
! grep -qE '^(E|W): ' <<<"$tags" || fail "lintian reports errors or warnings (above)"
! grep -qE ': (hardening-|binary-has-unneeded-section)' <<<"$tags" || fail "the programs are not hardened (above)"

# apt resolves every dependency on this system (simulated: nothing is installed).
apt-get install -s "$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2
  fail "apt cannot install the package"
}
echo "package: OK ($(stat -c %s "$deb") bytes)"
